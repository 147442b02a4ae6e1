#include "DtlsWrapBio.h"

namespace {

int dwrapWrite(BIO* b, const char* data, int n)
{
    if (!b || !data || n < 1)
        return 0;
    return BIO_write(BIO_next(b), data, n);
}

int dwrapRead(BIO* b, char* out, int n)
{
    if (!b || !out)
        return 0;
    BIO_clear_retry_flags(b);
    const int ret = BIO_read(BIO_next(b), out, n);
    if (ret <= 0)
        BIO_copy_next_retry(b);
    return ret;
}

long dwrapCtrl(BIO* b, int cmd, long num, void* ptr)
{
    int* timerExpired = static_cast<int*>(BIO_get_data(b));
    switch (cmd) {
    case BIO_CTRL_DGRAM_SET_RECV_TIMEOUT:
        *timerExpired = 1;
        return 1;
    case BIO_CTRL_DGRAM_GET_RECV_TIMER_EXP:
        if (*timerExpired) {
            *timerExpired = 0;
            return 1;
        }
        return 0;
    default:
        return BIO_ctrl(BIO_next(b), cmd, num, ptr);
    }
}

long dwrapCallbackCtrl(BIO* b, int cmd, BIO_info_cb* fp)
{
    return BIO_callback_ctrl(BIO_next(b), cmd, fp);
}

int dwrapCreate(BIO* b)
{
    BIO_set_data(b, new int(0));
    BIO_set_init(b, 1);
    BIO_clear_flags(b, ~0);
    return 1;
}

int dwrapDestroy(BIO* b)
{
    if (!b)
        return 0;
    delete static_cast<int*>(BIO_get_data(b));
    BIO_set_data(b, nullptr);
    BIO_set_init(b, 0);
    BIO_clear_flags(b, ~0);
    return 1;
}

} // namespace

BIO_METHOD* BIO_f_dwrap()
{
    BIO_METHOD* method = BIO_meth_new(BIO_TYPE_FILTER | BIO_TYPE_SOURCE_SINK | 50, "dtls_wrapper");
    if (!method)
        return nullptr;
    BIO_meth_set_write(method, dwrapWrite);
    BIO_meth_set_read(method, dwrapRead);
    BIO_meth_set_ctrl(method, dwrapCtrl);
    BIO_meth_set_callback_ctrl(method, dwrapCallbackCtrl);
    BIO_meth_set_create(method, dwrapCreate);
    BIO_meth_set_destroy(method, dwrapDestroy);
    // puts/gets stay unset: OpenSSL then reports them unsupported (-2).
    return method;
}
