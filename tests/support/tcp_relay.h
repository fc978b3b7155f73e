// A TCP relay between a client and the test server, for the faults of a link
// that a healthy server never shows. It listens on a free port of 127.0.0.1
// and connects every accepted connection to the target port of 127.0.0.1.
//
// silence() makes the link go quiet as a firewall or NAT does that has
// dropped the connection's state: nothing passes in either direction, and
// both sockets of every connection stay open (no FIN, no RST), so a client
// that waits for an answer waits for good. Connections accepted while silent
// are connected to the target but pass nothing either.
//
// close() (also at destruction) shuts every socket down before closing it:
// the client sees the end of its connection, and the server's session ends
// with it instead of keeping its locks after the test.
//
// A test reaches the relay through a data source of its own:
//   TcpRelay relay(testDbServerPort());
//   std::string dsn = testDbAddDsn(relay.port(), "");
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class TcpRelay {
  public:
    // Starts listening and relaying; port() is 0 when that failed (reported
    // as a test failure).
    explicit TcpRelay(int targetPort);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    int port() const { return port_; }

    // Connections accepted so far.
    int accepted();

    // From the return on, no byte passes in either direction until resume().
    void silence();
    void resume();

    // Shuts down and closes every socket and stops the relay; idempotent.
    void close();

  private:
    struct Direction {
        int from = -1;
        int to = -1;
        char buffer[16384];
        std::size_t start = 0;
        std::size_t end = 0;
        bool ended = false;  // end of input seen and passed on
    };
    struct Link {
        Direction up;  // client to server
        Direction down;
        bool broken = false;
    };

    void run();
    void applyRequests();
    void acceptOne();
    void transfer(Direction& direction, Link& link, short events);
    void dropFinishedLinks();

    int targetPort_;
    int port_ = 0;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::vector<Link*> links_;  // owned; touched by the relay thread only until close

    std::mutex mutex_;
    std::condition_variable applied_;
    bool silentRequested_ = false;
    bool closeRequested_ = false;
    bool silent_ = false;  // as the relay thread applies it
    int generation_ = 0;   // requests made
    int appliedGeneration_ = 0;
    int accepted_ = 0;
    bool closed_ = false;
};
