#pragma once

// How a stream's key comes from its password; the choice is the stream's format version.
enum class KeyDerivation
{
    Pbkdf2,   // version 5: PBKDF2-HMAC-SHA1, 1,000 iterations; every release reads it
    Argon2id, // version 6: Argon2id with 256 MiB, 3 passes, 2 lanes; older releases refuse it
};
