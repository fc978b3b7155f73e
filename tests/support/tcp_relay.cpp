#include "tcp_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A listening socket on a free port of 127.0.0.1; -1 on failure.
int listenOnFreePort(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

// A non-blocking connection to the target; -1 on failure. The connect itself
// blocks, which on the loopback interface takes no time.
int connectTo(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        fcntl(fd, F_SETFL, O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Without the shutdown a close can leave the peer without a FIN while another
// process still holds the socket (a child forked before the close).
void shutdownAndClose(int fd) {
    if (fd < 0)
        return;
    shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

}  // namespace

TcpRelay::TcpRelay(int targetPort) : targetPort_(targetPort) {
    listener_ = listenOnFreePort(&port_);
    if (listener_ < 0 || pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        ADD_FAILURE() << "relay: cannot listen: " << std::strerror(errno);
        port_ = 0;
        return;
    }
    thread_ = std::thread(&TcpRelay::run, this);
}

TcpRelay::~TcpRelay() {
    close();
}

int TcpRelay::accepted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

void TcpRelay::silence() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_ || !thread_.joinable())
        return;
    silentRequested_ = true;
    int generation = ++generation_;
    char wake = 1;
    if (write(wake_[1], &wake, 1) < 0 && errno != EAGAIN)
        ADD_FAILURE() << "relay: cannot wake its thread";
    applied_.wait(lock, [&] { return appliedGeneration_ >= generation; });
}

void TcpRelay::resume() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_ || !thread_.joinable())
        return;
    silentRequested_ = false;
    int generation = ++generation_;
    char wake = 1;
    if (write(wake_[1], &wake, 1) < 0 && errno != EAGAIN)
        ADD_FAILURE() << "relay: cannot wake its thread";
    applied_.wait(lock, [&] { return appliedGeneration_ >= generation; });
}

void TcpRelay::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return;
        closed_ = true;
        closeRequested_ = true;
    }
    char wake = 1;
    if (wake_[1] >= 0 && write(wake_[1], &wake, 1) < 0 && errno != EAGAIN)
        ADD_FAILURE() << "relay: cannot wake its thread";
    if (thread_.joinable())
        thread_.join();
    for (Link* link : links_) {
        shutdownAndClose(link->up.from);
        shutdownAndClose(link->up.to);
        delete link;
    }
    links_.clear();
    shutdownAndClose(listener_);
    listener_ = -1;
    for (int& fd : wake_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

// Takes the requests made since the last call and acknowledges them, so that
// silence() returns only once no transfer can follow.
void TcpRelay::applyRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_ = silentRequested_;
    appliedGeneration_ = generation_;
    applied_.notify_all();
}

void TcpRelay::run() {
    std::vector<pollfd> fds;
    std::vector<std::pair<Link*, Direction*>> owners;  // of fds[i], from i = 2 on
    for (;;) {
        applyRequests();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closeRequested_)
                return;
        }
        fds.assign({{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}});
        owners.assign(2, {nullptr, nullptr});
        for (Link* link : links_) {
            for (Direction* d : {&link->up, &link->down}) {
                if (silent_ || link->broken)
                    continue;
                if (d->start < d->end) {
                    fds.push_back({d->to, POLLOUT, 0});
                    owners.emplace_back(link, d);
                } else if (!d->ended) {
                    fds.push_back({d->from, POLLIN, 0});
                    owners.emplace_back(link, d);
                }
            }
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            ADD_FAILURE() << "relay: poll failed: " << std::strerror(errno);
            return;
        }
        if (fds[0].revents != 0) {
            char drained[64];
            while (read(wake_[0], drained, sizeof drained) > 0) {
            }
            continue;  // a request first: it may forbid the transfers below
        }
        if (fds[1].revents & POLLIN)
            acceptOne();
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents != 0)
                transfer(*owners[i].second, *owners[i].first, fds[i].revents);
        }
        dropFinishedLinks();
    }
}

void TcpRelay::acceptOne() {
    int client = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0)
        return;
    int server = connectTo(targetPort_);
    if (server < 0) {
        shutdownAndClose(client);
        return;
    }
    Link* link = new Link;
    link->up.from = client;
    link->up.to = server;
    link->down.from = server;
    link->down.to = client;
    links_.push_back(link);
    std::lock_guard<std::mutex> lock(mutex_);
    ++accepted_;
}

// One step of one direction: read what is there into the empty buffer, or
// write what the buffer holds. The end of input is passed on as a half close;
// an error breaks the whole link.
void TcpRelay::transfer(Direction& d, Link& link, short events) {
    if (d.start < d.end) {
        ssize_t n = send(d.to, d.buffer + d.start, d.end - d.start, MSG_NOSIGNAL);
        if (n > 0)
            d.start += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            link.broken = true;
        return;
    }
    if (!(events & (POLLIN | POLLHUP | POLLERR)))
        return;
    ssize_t n = recv(d.from, d.buffer, sizeof d.buffer, 0);
    if (n > 0) {
        d.start = 0;
        d.end = static_cast<std::size_t>(n);
    } else if (n == 0) {
        d.ended = true;
        shutdown(d.to, SHUT_WR);
    } else if (errno != EAGAIN && errno != EINTR) {
        link.broken = true;
    }
}

void TcpRelay::dropFinishedLinks() {
    auto finished = [](Link* link) {
        if (!link->broken && !(link->up.ended && link->down.ended))
            return false;
        shutdownAndClose(link->up.from);
        shutdownAndClose(link->up.to);
        delete link;
        return true;
    };
    links_.erase(std::remove_if(links_.begin(), links_.end(), finished), links_.end());
}
