// The pipe key derived from host facts, and the envelope around every message
// on the service's socket: payload -> scheme-2 packet -> base64 text, and back.
// C-compatible, so client libraries in either language can call it.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

enum {
    ENCRYPTION_NONE = 1,  // payload passes through unchanged
    ENCRYPTION_KAE5 = 2,  // the encrypted envelope (any value but 1 selects it)
};

#define PIPE_KEY_SIZE 16

// Builds the process-wide host key seed from the host facts. Called once by
// the worker at start; a further call does nothing.
void setHashKeySeed(void);

// Writes the 16-byte pipe key derived from the process-wide seed. Returns 0,
// or 1 when setHashKeySeed has not run.
int getHashedKey(unsigned char* key);

// For clients: reads the host facts now and derives the same 16-byte key the
// service derived from the facts it read at its start. Leaves the process-wide
// seed alone. Returns 0.
int getHostPipeKey(unsigned char* key);

// Where the envelope takes its key from: getHashedKey in the service,
// getHostPipeKey in a client. Returns 0, or non-zero when there is no key.
typedef int (*PipeKeySource)(unsigned char* key);

// Encrypts `len` payload bytes into base64 text. On success *out points to a
// new zero-terminated text of *outLen characters, which the caller releases
// with free(). Returns 0; 1 when no key is available; 3 on any other failure
// (after a failed base64 step *out is set and must still be freed).
int encryptPipeData(const void* data, int len, char** out, int* outLen, int encryptionType);

// Decrypts the *len characters of text at `data`, a buffer of `capacity`
// bytes, in place. On success the buffer holds the message, *len its length
// (the payload and one zero byte) and zeros fill the buffer to capacity.
// Returns 0; 1 when no key is available; 2 on any other failure, leaving the
// buffer and *len untouched.
int decryptPipeData(void* data, int* len, int capacity, int encryptionType);

// The same two operations with the key taken from `keySource`.
int encryptPipeDataWith(PipeKeySource keySource, const void* data, int len, char** out, int* outLen,
                        int encryptionType);
int decryptPipeDataWith(PipeKeySource keySource, void* data, int* len, int capacity,
                        int encryptionType);

#ifdef __cplusplus
}
#endif
