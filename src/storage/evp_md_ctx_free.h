// Digest contexts that let go of the crypto library's state for their thread
// when they are freed.
//
// The library keeps per-thread state (its error queue, among others) that it
// frees from a thread-exit handler, and frees again from its own exit
// handler for every thread still registered. Our hashing runs on QThreads,
// which are detached: wait() returns before the thread's exit handlers have
// run, so a program that ends right after its job (imgsmith-install) can have
// both free the same state, a double free at exit. Ending the thread's state
// here, on the thread that made it, leaves neither handler anything to do; a
// later digest on the same thread sets it up again.
#pragma once

#include <memory>
#include <openssl/crypto.h>
#include <openssl/evp.h>

struct evp_md_ctx_free
{
    void operator()(EVP_MD_CTX *ctx) const
    {
        EVP_MD_CTX_free(ctx);
        OPENSSL_thread_stop();
    }
};

using evp_md_ctx_ptr = std::unique_ptr<EVP_MD_CTX, evp_md_ctx_free>;
