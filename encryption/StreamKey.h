#pragma once

#include "encryption/StreamHeader.h"

class SecureStringHolder;

// The AES-256 key and IV of a stream under one password, in locked memory that is wiped when it
// goes. A caller that passes over the same file twice (a pass that verifies, then one that
// writes) keeps one for both, so that the key is derived once: a version-6 derivation takes
// about half a second and hundreds of MiB.
class StreamKey
{
public:
    static constexpr int keySize = 32;
    static constexpr int ivSize = 16;

    explicit StreamKey(const SecureStringHolder& password);
    ~StreamKey();
    StreamKey(const StreamKey&) = delete;
    StreamKey& operator=(const StreamKey&) = delete;

    // Derives the key of a stream with `header` from the password, unless the one held is for
    // the same derivation, salt and costs already. Throws as the derivation does, and
    // std::bad_alloc when no memory can be had for the key.
    void derive(const StreamHeader& header);
    // Once derived.
    [[nodiscard]] const unsigned char* key() const { return bytes; }
    [[nodiscard]] const unsigned char* iv() const { return bytes + keySize; }

private:
    const SecureStringHolder& password;
    unsigned char* bytes = nullptr; // keySize + ivSize, locked
    bool held = false;
    StreamHeader heldFor;
};
