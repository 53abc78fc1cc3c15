/*
 * The scramble libkiv-native-lib.so keeps its files in, for native callers: the bytes at even
 * positions, each plus one, then the bytes at odd positions, each minus one (modulo 256). A
 * light, reversible scramble, not encryption.
 *
 * Both functions take a zero-terminated string of n = strlen(in) bytes and write n bytes and a
 * zero to out, which needs room for n + 1 bytes. out may be in itself or overlap it in any
 * way. Neither touches the heap, and both do nothing when in or out is null. Because the input
 * ends at its first zero byte, decode cannot see a stored text past a zero byte (a stored text
 * holds one where it had U+0001 at an odd position); the library's own file methods read stored
 * files by their length instead.
 *
 * Usable from C (C99 or later) and C++.
 */
#ifndef KIV_CODEC_H
#define KIV_CODEC_H

#if defined(__GNUC__)
#define KIV_API __attribute__((visibility("default")))
#else
#define KIV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the scrambled form of plain to out. */
KIV_API void encode(const char* plain, char* out);

/* Writes the plain form of scrambled to out: the inverse of encode. */
KIV_API void decode(const char* scrambled, char* out);

#ifdef __cplusplus
}
#endif

#endif /* KIV_CODEC_H */
