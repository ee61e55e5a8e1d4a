// The relay: one thread accepts, one thread per connection passes bytes on.
#include "test/tcp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {

int ConnectTo(int port) {
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(server);
    return -1;
  }
  return server;
}

// A COM_QUERY packet of the text COMMIT: byte 4 is the command 3.
bool IsCommit(const char* packet, ssize_t size) {
  return size == 11 && packet[4] == 3 && std::string(packet + 5, 6) == "COMMIT";
}

bool WriteAll(int fd, const char* bytes, ssize_t size) { return write(fd, bytes, size) == size; }

}  // namespace

TcpRelay::TcpRelay(std::vector<int> ports, CommitFault fault, std::function<void()> on_commit)
    : ports_(std::move(ports)), fault_(fault), on_commit_(std::move(on_commit)) {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      listen(listener_, 8) == 0 &&
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port_ = ntohs(address.sin_port);
  }
  thread_ = std::thread([this] { Serve(); });
}

TcpRelay::~TcpRelay() {
  stop_ = true;
  thread_.join();
  close(listener_);
}

void TcpRelay::Serve() {
  std::vector<std::thread> relays;
  std::vector<int> silenced;
  while (!stop_) {
    pollfd ready = {listener_, POLLIN, 0};
    if (poll(&ready, 1, 50) <= 0) continue;
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    if (silent_) {
      silenced.push_back(client);
      continue;
    }
    const size_t number = static_cast<size_t>(connections_++);
    if (number > 0 && refuse_later_) {
      close(client);
      continue;
    }
    const int server_port = ports_[number < ports_.size() ? number : ports_.size() - 1];
    relays.emplace_back(
        [this, client, server_port, number] { Relay(client, server_port, number == 0); });
  }
  for (std::thread& relay : relays) relay.join();
  for (const int client : silenced) close(client);
}

bool TcpRelay::WaitForRelease() {
  while (!released_ && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return released_;
}

void TcpRelay::Relay(int client, int server_port, bool first) {
  const int server = ConnectTo(server_port);
  if (server >= 0) {
    char buffer[65536];
    pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    while (!stop_) {
      if (poll(ends, 2, 50) <= 0) continue;
      const int from = (ends[0].revents != 0) ? 0 : 1;
      const ssize_t got = read(ends[from].fd, buffer, sizeof buffer);
      if (got <= 0) break;
      if (from == 0 && hide_named_locks_) {
        for (char* at = buffer;
             (at = static_cast<char*>(
                  memmem(at, static_cast<size_t>(buffer + got - at), "GET_LOCK(", 9))) != nullptr;
             at += 9) {
          at[6] = 'X';
        }
      }
      if (!first || from != 0 || fault_ == kPassCommit || !IsCommit(buffer, got)) {
        if (!WriteAll(ends[1 - from].fd, buffer, got)) break;
        if (first && from == 0 && IsCommit(buffer, got) && on_commit_) on_commit_();
        continue;
      }
      cut_ = true;
      if (fault_ == kCutAndHold) {
        shutdown(client, SHUT_RDWR);
        if (!WaitForRelease()) break;
      } else if (fault_ == kHoldCommit && !WaitForRelease()) {
        break;
      }
      if (!WriteAll(server, buffer, got)) break;
      if (fault_ == kCutAfterAnswer) {
        pollfd answer = {server, POLLIN, 0};
        if (poll(&answer, 1, 60000) > 0 && read(server, buffer, sizeof buffer) < 0) break;
      }
      if (on_commit_) on_commit_();
      if (fault_ != kHoldCommit) {
        // Let the server take in what it was sent before the connection goes.
        if (fault_ == kCutAndHold) {
          pollfd answer = {server, POLLIN, 0};
          poll(&answer, 1, 60000);
        }
        break;
      }
    }
  }
  if (server >= 0) close(server);
  close(client);
}
