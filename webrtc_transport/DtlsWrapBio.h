#pragma once
// BIO_f_dwrap: the "dtls_wrapper" filter put in front of each memory BIO of
// a DTLS endpoint. It hands every write whole to the memory BIO, so records
// stay as OpenSSL wrote them and the pending output can be taken at once.
// The caller owns the returned method and frees it (BIO_meth_free) after
// every BIO made from it is gone.
#include <openssl/bio.h>

BIO_METHOD* BIO_f_dwrap();
