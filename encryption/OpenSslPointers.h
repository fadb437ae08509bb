#pragma once

#include <openssl/evp.h>

#include <memory>

// Owners for OpenSSL's cipher and digest contexts, freed (and so wiped by OpenSSL) with them.
struct OpenSslDeleter
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, OpenSslDeleter>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter>;
