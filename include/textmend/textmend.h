/* textmend: repairs text in which UTF-8 and Latin-1/Windows-1252 are mixed.
 *
 * The C interface of the library, for C99 and later, C++, and any language
 * that calls C (ctypes, cffi, Rust, Go, Zig, ...). It gives, byte for byte,
 * what the textmend program and the C++ interface (textmend.hpp) give.
 *
 *     #include <textmend/textmend.h>
 *
 *     size_t n = 0;
 *     textmend_status s = textmend_convert(in, in_size, TEXTMEND_UTF8, out, capacity, &n);
 *     if (s == TEXTMEND_BUFFER_TOO_SMALL) ... n is the room needed: grow out, call again
 *     else if (s == TEXTMEND_OK) ... out holds the n bytes of the result
 *
 * Every function that can fail returns a textmend_status and writes its
 * result through a pointer; nothing else leaves a call (no exception, no
 * abort, no message). Nothing is written past the capacity given, and a call
 * that fails writes nothing there. Only textmend_stream_new allocates.
 *
 * No state is shared between calls: a stream is used by one thread at a
 * time, and separate streams may be used from separate threads at once.
 */
#ifndef TEXTMEND_H
#define TEXTMEND_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define TEXTMEND_C_API __attribute__((visibility("default")))
#else
#define TEXTMEND_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The target encoding (the same values as textmend::Target). */
typedef enum textmend_target {
    TEXTMEND_LATIN1 = 1,      /* ISO-8859-1 (the program's default) */
    TEXTMEND_WINDOWS1252 = 2, /* Windows-1252 (-w) */
    TEXTMEND_UTF8 = 3         /* UTF-8 (-u) */
} textmend_target;

typedef enum textmend_status {
    TEXTMEND_OK = 0,
    /* A null pointer where bytes or a result were to go or come from, or a
     * target that is none of the above. Nothing was done. */
    TEXTMEND_WRONG_ARGUMENT = 1,
    /* The output does not fit the capacity given. The result pointer holds
     * the room needed; nothing was written and a stream is as it was. */
    TEXTMEND_BUFFER_TOO_SMALL = 2,
    /* Memory could not be had. */
    TEXTMEND_OUT_OF_MEMORY = 3
} textmend_status;

/* The version of the library linked, as "MAJOR.MINOR.PATCH". */
TEXTMEND_C_API const char* textmend_version(void);

/* A short English text for a status, such as "buffer too small"; never null. */
TEXTMEND_C_API const char* textmend_status_text(textmend_status status);

/* Room that is always enough for the output of size input bytes, in a
 * whole conversion and in one stream feed or finish: a quick upper bound,
 * where textmend_converted_size takes a pass over the input. 0 for a
 * target that is none of the above, or when the bound does not fit a
 * size_t. */
TEXTMEND_C_API size_t textmend_max_converted_size(size_t size, textmend_target target);

/* The exact count of bytes that textmend_convert writes for the input, into
 * *result. input may be null when size is 0. */
TEXTMEND_C_API textmend_status textmend_converted_size(const void* input, size_t size,
                                                       textmend_target target, size_t* result);

/* Where an input may be cut: the length of its longest prefix that ends
 * just after a byte below 0x80, or 0 when it holds none. The prefix and the
 * rest, converted apart, give the conversion of the whole, in every target.
 * input may be null when size is 0. */
TEXTMEND_C_API size_t textmend_safe_cut(const void* input, size_t size);

/* Converts a whole input (its end is the end of the text) into out, which
 * holds capacity bytes. *result gets the count written, or with
 * TEXTMEND_BUFFER_TOO_SMALL the room needed. Exactly the result is written:
 * textmend_converted_size() bytes are enough. out may be null when capacity
 * is 0 (to ask for the size). */
TEXTMEND_C_API textmend_status textmend_convert(const void* input, size_t size,
                                                textmend_target target, void* out, size_t capacity,
                                                size_t* result);

/* What textmend_convert_with may do beyond its target; or them together. */
enum {
    /* Also undo text that was encoded twice ("cafÃ©" for "café"), in the
     * lines where nothing else reads otherwise; see undo_double_encoding in
     * textmend.hpp. */
    TEXTMEND_UNDO_DOUBLE_ENCODING = 1
};

/* As textmend_convert, with options; TEXTMEND_WRONG_ARGUMENT for an option
 * bit this library does not know. */
TEXTMEND_C_API textmend_status textmend_convert_with(const void* input, size_t size,
                                                     textmend_target target, unsigned options,
                                                     void* out, size_t capacity, size_t* result);

/* Inputs in pieces: the concatenated output of the feeds and the finish is
 * exactly the conversion of the concatenated pieces. Only a sequence at the
 * end of a piece that the next may still complete is held back (at most five
 * bytes, three for UTF-8); the rest of a piece is written by its feed. */
typedef struct textmend_stream textmend_stream;

/* A new stream converting to target, into *stream (null on failure). */
TEXTMEND_C_API textmend_status textmend_stream_new(textmend_target target,
                                                   textmend_stream** stream);

/* Converts what can be converted of the next piece into out (capacity
 * bytes); *result gets the count written. When that is more than capacity,
 * TEXTMEND_BUFFER_TOO_SMALL with the exact room in *result, and the piece is
 * not taken: feed it again with that room. textmend_max_converted_size(size)
 * is always enough. */
TEXTMEND_C_API textmend_status textmend_stream_feed(textmend_stream* stream, const void* piece,
                                                    size_t size, void* out, size_t capacity,
                                                    size_t* result);

/* Converts what was held back: the input has ended. Like a feed for room
 * and result. The stream can then start on a new input. */
TEXTMEND_C_API textmend_status textmend_stream_finish(textmend_stream* stream, void* out,
                                                      size_t capacity, size_t* result);

/* The counts of bytes the stream was fed and wrote since it was made. */
TEXTMEND_C_API textmend_status textmend_stream_counts(const textmend_stream* stream,
                                                      uint64_t* bytes_in, uint64_t* bytes_out);

/* Frees a stream; null is allowed. */
TEXTMEND_C_API void textmend_stream_free(textmend_stream* stream);

/* What a conversion would do to an input, without converting it (see
 * textmend.hpp for what changed and kept units are). */
typedef struct textmend_inspection {
    uint64_t bytes_in;
    uint64_t bytes_out; /* exactly what the conversion writes */
    uint64_t changed;   /* units the conversion changes */
    uint64_t kept;      /* units kept that are not of the target encoding */
} textmend_inspection;

/* Inspects a whole input into *result. The input is clean (the conversion
 * leaves it as it is, and it is all in the target encoding) when changed and
 * kept are both 0. */
TEXTMEND_C_API textmend_status textmend_inspect(const void* input, size_t size,
                                                textmend_target target,
                                                textmend_inspection* result);

#ifdef __cplusplus
}
#endif

#endif /* TEXTMEND_H */
