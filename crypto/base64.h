// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks): the text
// form of every envelope on the service's socket.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Encodes `inLen` bytes into `out` without a terminator. *outLen holds the
// capacity on entry and the characters written on success.
// Returns 0, or 3 when the output does not fit (or the arguments are unusable).
int base64Encode(const unsigned char* in, int inLen, char* out, int* outLen);

// Decodes `inLen` characters into `out`. *outLen holds the capacity on entry
// and the bytes written on success. Returns 0; 1 for a character outside the
// alphabet (whitespace included) or a misplaced "="; 2 when inLen is not a
// multiple of 4; 3 when the output does not fit.
int base64Decode(const char* in, int inLen, unsigned char* out, int* outLen);

#ifdef __cplusplus
}
#endif
