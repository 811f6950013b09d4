/* A C99 program on the C interface: converts standard input to UTF-8 in
 * pieces, asking each call for the room it needs, writes the result to
 * standard output, and says on standard error whether anything changed. */
#include <stdio.h>
#include <stdlib.h>
#include <textmend/textmend.h>

/* The output buffer, grown to the room a call asked for. */
struct room {
    char* bytes;
    size_t size;
};

static int grow(struct room* room, size_t needed) {
    char* bigger = realloc(room->bytes, needed);
    if (bigger == NULL) return 0;
    room->bytes = bigger;
    room->size = needed;
    return 1;
}

/* Feeds a piece (finishes when piece is NULL) and writes what it gives. */
static int convert_and_put(textmend_stream* stream, const char* piece, size_t size,
                           struct room* room) {
    size_t written = 0;
    textmend_status status;
    for (;;) {
        status = piece != NULL
                     ? textmend_stream_feed(stream, piece, size, room->bytes, room->size, &written)
                     : textmend_stream_finish(stream, room->bytes, room->size, &written);
        if (status != TEXTMEND_BUFFER_TOO_SMALL) break;
        if (!grow(room, written)) return 0;
    }
    return status == TEXTMEND_OK &&
           (written == 0 || fwrite(room->bytes, 1, written, stdout) == written);
}

int main(void) {
    textmend_stream* stream = NULL;
    char piece[7]; /* small pieces: sequences are cut between them */
    struct room room = {NULL, 0};
    size_t got = 0;
    uint64_t bytes_in = 0;
    uint64_t bytes_out = 0;
    if (textmend_stream_new(TEXTMEND_UTF8, &stream) != TEXTMEND_OK) return 2;
    while ((got = fread(piece, 1, sizeof piece, stdin)) > 0) {
        if (!convert_and_put(stream, piece, got, &room)) return 2;
    }
    if (!convert_and_put(stream, NULL, 0, &room)) return 2;
    if (textmend_stream_counts(stream, &bytes_in, &bytes_out) != TEXTMEND_OK) return 2;
    fprintf(stderr, "%s %s\n", textmend_version(),
            bytes_in != bytes_out ? "repaired" : "already clean");
    textmend_stream_free(stream);
    free(room.bytes);
    return 0;
}
