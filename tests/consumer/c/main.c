/* A C99 program on the C interface: converts standard input to UTF-8 in
 * pieces, asking each call for the room it needs, writes the result to
 * standard output, and says on standard error whether anything changed. */
#include <stdio.h>
#include <stdlib.h>
#include <textmend/textmend.h>

static int put(const char* bytes, size_t n) {
    return fwrite(bytes, 1, n, stdout) == n;
}

int main(void) {
    textmend_stream* stream = NULL;
    textmend_status status = textmend_stream_new(TEXTMEND_UTF8, &stream);
    char piece[7]; /* small pieces: sequences are cut between them */
    size_t room = 1;
    char* out = malloc(room);
    size_t got = 0;
    size_t written = 0;
    uint64_t bytes_in = 0;
    uint64_t bytes_out = 0;
    if (status != TEXTMEND_OK || out == NULL) return 2;
    while ((got = fread(piece, 1, sizeof piece, stdin)) > 0) {
        while ((status = textmend_stream_feed(stream, piece, got, out, room, &written)) ==
               TEXTMEND_BUFFER_TOO_SMALL) {
            char* bigger = realloc(out, written);
            if (bigger == NULL) return 2;
            out = bigger;
            room = written;
        }
        if (status != TEXTMEND_OK || !put(out, written)) return 2;
    }
    while ((status = textmend_stream_finish(stream, out, room, &written)) ==
           TEXTMEND_BUFFER_TOO_SMALL) {
        char* bigger = realloc(out, written);
        if (bigger == NULL) return 2;
        out = bigger;
        room = written;
    }
    if (status != TEXTMEND_OK || !put(out, written)) return 2;
    if (textmend_stream_counts(stream, &bytes_in, &bytes_out) != TEXTMEND_OK) return 2;
    fprintf(stderr, "%s %s\n", textmend_version(), bytes_in != bytes_out ? "repaired" : "already clean");
    textmend_stream_free(stream);
    free(out);
    return 0;
}
