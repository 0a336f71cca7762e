// One session from the customer's connection to its end: PROXY line, one-time port, viewer, relay.
#include "technician/technician_session.h"

#include <cerrno>
#include <chrono>
#include <memory>

#include "brol/container/brol_scoped.h"
#include "brol/stream/brol_stream.h"
#include "technician/technician_journal.h"
#include "technician/technician_platform.h"
#include "technician/technician_proxy.h"

namespace {

constexpr int k_slice_ms = 250;            // how often waits look at the stop request
constexpr std::int64_t k_proxy_ms = 5000;  // the tunnel server sends the line at once

using steady = std::chrono::steady_clock;

std::string reason(int number) {
  const char* text = brol_platform_error_text(number);
  return text ? text : "error " + std::to_string(number);
}

std::int64_t ms_left(steady::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
}

struct session_state {
  const tech_settings& settings;
  const std::atomic<bool>& stop;
  brol_stream& customer;
  tech_session_counts counts{};
  steady::time_point start = steady::now();
  tech_end how = tech_end::stopped;
  std::string detail;

  session_state(const tech_settings& given, const std::atomic<bool>& stop_flag, brol_stream& connection)
      : settings(given), stop(stop_flag), customer(connection) {}

  bool end(tech_end why, std::string text = {}) {
    how = why;
    detail = std::move(text);
    return false;
  }
};

// Reads the PROXY line byte by byte, so that the customer's first bytes stay in the connection.
bool read_proxy_line(session_state& s, std::string* customer) {
  tech_proxy_reader reader;
  const steady::time_point deadline = steady::now() + std::chrono::milliseconds(k_proxy_ms);
  for (;;) {
    bool ready = false;
    const std::int64_t left = ms_left(deadline);
    if (s.stop || left <= 0) {
      return s.end(s.stop ? tech_end::stopped : tech_end::bad_proxy, "no PROXY line within 5 s");
    }
    if (tech_wait_readable(&s.customer.socket, 1, static_cast<int>(left < k_slice_ms ? left : k_slice_ms), &ready) <=
        0) {
      continue;
    }
    char byte = 0;
    const std::int32_t n = brol_os.socket_recv(s.customer.socket, &byte, 1);
    if (n <= 0) {
      return s.end(tech_end::bad_proxy, n == 0 ? "the connection ended before a PROXY line" : reason(errno));
    }
    const int state = reader.add(byte);
    if (state > 0) {
      *customer = reader.customer();
      return true;
    }
    if (state < 0) {
      return s.end(tech_end::bad_proxy, reader.why());
    }
  }
}

// Waits for the viewer's connection on the one-time listener while the viewer runs.
bool accept_viewer(session_state& s, brol_stream& listener, tech_child& viewer, brol_stream& out) {
  const steady::time_point deadline = steady::now() + std::chrono::seconds(s.settings.viewer_wait_seconds);
  for (;;) {
    if (s.stop) {
      return s.end(tech_end::stopped);
    }
    if (!tech_child_running(viewer)) {
      return s.end(tech_end::viewer_exited);
    }
    const std::int64_t left = ms_left(deadline);
    if (left <= 0) {
      return s.end(tech_end::viewer_timeout, std::to_string(s.settings.viewer_wait_seconds));
    }
    bool ready = false;
    if (tech_wait_readable(&listener.socket, 1, static_cast<int>(left < k_slice_ms ? left : k_slice_ms), &ready) > 0) {
      // The listener is bound to 127.0.0.1: only this machine can connect to it.
      if (out.accept(&listener)) {
        return true;
      }
      return s.end(tech_end::no_port, reason(out.error_number));
    }
  }
}

bool send_all(brol_socket_handle socket, const char* data, std::int32_t size) {
  while (size > 0) {
    const std::int32_t n = brol_os.socket_send(socket, data, size);
    if (n <= 0) {
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

bool peer_gone(int number) { return number == ECONNRESET || number == EPIPE || number == ECONNABORTED; }

// Moves what arrived on side from (0 customer, 1 viewer) to the other side; false when the session ends.
bool relay_once(session_state& s, const brol_socket_handle* sockets, int from, char* buffer) {
  const tech_end ended[2] = {tech_end::customer_ended, tech_end::viewer_closed};
  const tech_end failed[2] = {tech_end::customer_failed, tech_end::viewer_failed};
  const std::int32_t n = brol_os.socket_recv(sockets[from], buffer, tech_relay_buffer_size);
  if (n <= 0) {
    const int number = errno;
    return n == 0 || peer_gone(number) ? s.end(ended[from]) : s.end(failed[from], reason(number));
  }
  if (!send_all(sockets[1 - from], buffer, n)) {
    const int number = errno;
    return peer_gone(number) ? s.end(ended[1 - from]) : s.end(failed[1 - from], reason(number));
  }
  (from == 0 ? s.counts.to_viewer : s.counts.to_customer) += static_cast<std::uint64_t>(n);
  return true;
}

// Relays both ways as soon as bytes arrive, until one side ends, a side fails or the console stops.
void relay(session_state& s, brol_stream& viewer) {
  const brol_socket_handle sockets[2] = {s.customer.socket, viewer.socket};
  tech_socket_no_delay(sockets[0]);
  tech_socket_no_delay(sockets[1]);
  std::unique_ptr<char[]> buffer(new char[tech_relay_buffer_size]);
  for (;;) {
    if (s.stop) {
      s.end(tech_end::stopped);
      return;
    }
    bool ready[2] = {false, false};
    const int n = tech_wait_readable(sockets, 2, k_slice_ms, ready);
    if (n < 0) {
      s.end(tech_end::customer_failed, reason(errno));
      return;
    }
    for (int side = 0; side < 2; ++side) {
      if (ready[side] && !relay_once(s, sockets, side, buffer.get())) {
        return;
      }
    }
  }
}

// From the customer's address on: one-time port, viewer, its connection, the relay.
void serve(session_state& s) {
  brol_scoped<brol_stream> listener(1024);
  if (!listener.resolve("127.0.0.1") || !listener.listen(0)) {
    s.end(tech_end::no_port, reason(listener.error_number));
    return;
  }
  const auto* bound = reinterpret_cast<const sockaddr_in*>(listener.address);
  const std::uint16_t port = ntohs(bound->sin_port);
  tech_child viewer_process;
  std::string why;
  if (!tech_spawn(s.settings.viewer, tech_viewer_arguments(s.settings, port), &viewer_process, &why)) {
    s.end(tech_end::viewer_not_started, why);
    return;
  }
  brol_scoped<brol_stream> viewer(1024);
  if (accept_viewer(s, listener, viewer_process, viewer)) {
    listener.close(false);  // one viewer per session: nobody else gets in after it
    tech_journal(tech_text_viewer_connected(s.counts.number, port));
    relay(s, viewer);
  }
  viewer.close(false);
  s.customer.close(false);
  tech_child_end(viewer_process);
}

}  // namespace

void tech_session_run(const tech_settings& settings, const std::string& id, brol_stream& customer, std::int64_t number,
                      const std::atomic<bool>& stop) {
  session_state s(settings, stop, customer);
  s.counts.number = number;
  std::string address = "unknown";
  const bool known = read_proxy_line(s, &address);
  tech_journal(tech_text_started(number, id, address));
  if (known) {
    serve(s);
  }
  customer.close(false);
  customer.destroy();
  s.counts.seconds = std::chrono::duration_cast<std::chrono::seconds>(steady::now() - s.start).count();
  tech_journal(tech_text_ended(s.counts, s.how, s.detail));
}
