#pragma once
// Socket: closing a socket descriptor of the WebRTC transport.
// Stateless; any thread.

class Socket {
public:
    // Closes fd; a failure is logged and reported as -1, never fatal: a
    // session's teardown must not take the whole server down.
    static int Close(int fd);
};
