// A TCP relay on the loopback between the program and the test server, or a
// cluster's nodes, that stands in for a load balancer: it passes every
// connection on to a port of its list and can make a fault of the first
// connection's COMMIT, the moment a connection is lost that no server error
// tells about, refuse the connections after the first, and hide the server's
// named locks. POSIX only.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TcpRelay {
 public:
  // What becomes of the first connection's COMMIT.
  enum CommitFault {
    kPassCommit,      // nothing
    kCutAfterCommit,  // passed on, then the connection is cut: the server has it
    kCutAfterAnswer,  // passed on; the server's answer is dropped and the connection cut
    kCutAndHold,      // the client is cut at once; the server gets it at ReleaseCommit
    kHoldCommit,      // the connection stays; the server gets it at ReleaseCommit
  };

  // Connection number i (counted from 0) goes to ports[i], the last port
  // taking every connection after. on_commit, when set, is called on the
  // relay's thread once the first connection's COMMIT has gone to the server
  // (after its answer for kCutAfterAnswer).
  TcpRelay(std::vector<int> ports, CommitFault fault, std::function<void()> on_commit = nullptr);
  ~TcpRelay();
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  int port() const { return port_; }
  // The first connection's COMMIT came (and was cut or held as told).
  bool cut() const { return cut_; }
  // How many connections were accepted.
  int connections() const { return connections_; }
  // Lets a held COMMIT go to the server; one let go before the relay is
  // destroyed still goes, and its answer is waited for.
  void ReleaseCommit() { released_ = true; }
  // Closes every connection after the first at once.
  void RefuseLaterConnections(bool refuse) { refuse_later_ = refuse; }
  // Makes the server look as if it gave no named locks: GET_LOCK arrives as
  // GET_LOXK, which the server does not know.
  void HideNamedLocks(bool hide) { hide_named_locks_ = hide; }
  // Accepts every connection and never says a word: a server that hangs
  // before its greeting.
  void Silence(bool silent) { silent_ = silent; }

 private:
  void Serve();
  void Relay(int client, int server_port, bool first);
  bool WaitForRelease();

  std::vector<int> ports_;
  CommitFault fault_;
  std::function<void()> on_commit_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> cut_{false};
  std::atomic<bool> released_{false};
  std::atomic<bool> refuse_later_{false};
  std::atomic<bool> hide_named_locks_{false};
  std::atomic<bool> silent_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};
