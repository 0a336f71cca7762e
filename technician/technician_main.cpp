// The technician's console: reads its settings, listens on loopback for each ID's tunnel server and
// runs every connection as a session of its own, until it is stopped.
//
//   technician [--settings FILE]     (default: technician.ini beside the program)
#include <atomic>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "brol/container/brol_scoped.h"
#include "brol/stream/brol_stream.h"
#include "technician/technician_journal.h"
#include "technician/technician_platform.h"
#include "technician/technician_session.h"
#include "technician/technician_settings.h"

namespace {

constexpr int k_slice_ms = 250;

struct session_slot {
  std::thread thread;
  std::atomic<bool> done{false};
};

struct console {
  tech_settings settings;
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> sessions{0};
  std::mutex lock;
  std::list<session_slot> running;

  // Joins the sessions that have ended, so that a long day leaves no finished threads behind.
  void collect() {
    std::lock_guard<std::mutex> hold(lock);
    for (auto it = running.begin(); it != running.end();) {
      if (it->done) {
        it->thread.join();
        it = running.erase(it);
      } else {
        ++it;
      }
    }
  }

  void start_session(const std::string& id, brol_stream* customer) {
    collect();
    std::lock_guard<std::mutex> hold(lock);
    session_slot& slot = running.emplace_back();
    const std::int64_t number = ++sessions;
    slot.thread = std::thread([this, id, customer, number, &slot] {
      tech_session_run(settings, id, *customer, number, stop);
      delete customer;
      slot.done = true;
    });
  }

  void join_all() {
    std::lock_guard<std::mutex> hold(lock);
    for (session_slot& slot : running) {
      slot.thread.join();
    }
    running.clear();
  }
};

// Takes one ID's connections until the console stops.
void serve_id(console& c, const std::string& id, brol_stream& listener) {
  while (!c.stop) {
    bool ready = false;
    if (tech_wait_readable(&listener.socket, 1, k_slice_ms, &ready) <= 0) {
      continue;
    }
    auto* customer = new brol_stream;
    customer->init(1024);
    if (customer->accept(&listener)) {
      c.start_session(id, customer);
    } else {
      customer->destroy();
      delete customer;
    }
  }
}

std::string settings_path(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--settings") == 0) {
    return argv[2];
  }
  return tech_program_folder() + "technician.ini";
}

bool file_exists(const std::string& path) {
  brol_file_status status{};
  return brol_os.file_stat(path.c_str(), &status);
}

// 0 with the settings read; otherwise the exit code, after saying why on standard error.
int read_settings(const std::string& path, tech_settings* out) {
  std::string error;
  if (!file_exists(path)) {
    if (!tech_settings_write_example(path.c_str(), &error)) {
      std::fprintf(stderr, "technician: %s\n", error.c_str());
      return 2;
    }
    std::fprintf(stderr, "technician: no settings found; an example was written to %s: check it and start again\n",
                 path.c_str());
    return 2;
  }
  if (!tech_settings_load(path.c_str(), out, &error)) {
    std::fprintf(stderr, "technician: %s\n", error.c_str());
    return 2;
  }
  return 0;
}

int run(console& c, const std::string& path) {
  tech_journal_open(tech_journal_path(c.settings.journal, path).c_str());
  std::list<brol_scoped<brol_stream>> listeners;
  std::list<std::thread> acceptors;
  for (const tech_id_port& entry : c.settings.ids) {
    brol_stream& listener = listeners.emplace_back(1024);
    if (!listener.resolve("127.0.0.1") || !listener.listen(entry.port)) {
      const char* text = brol_platform_error_text(listener.error_number);
      tech_journal(tech_text_not_served(entry.id, entry.port, text ? text : "unknown error"));
      continue;
    }
    tech_journal(tech_text_listening(entry.id, entry.port));
    acceptors.emplace_back([&c, &entry, &listener] { serve_id(c, entry.id, listener); });
  }
  if (acceptors.empty()) {
    tech_journal("console stopped: no ID can be served");
    return 1;
  }
  tech_wait_for_stop();
  tech_journal("console stopping: ending every session");
  c.stop = true;
  for (std::thread& t : acceptors) {
    t.join();
  }
  c.join_all();
  tech_journal("console stopped");
  tech_stopped();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 1 && !(argc == 3 && std::strcmp(argv[1], "--settings") == 0)) {
    std::fprintf(stderr, "usage: technician [--settings FILE]   (default: technician.ini beside the program)\n");
    return 2;
  }
  std::string error;
  if (!tech_platform_start(&error)) {
    std::fprintf(stderr, "technician: %s\n", error.c_str());
    return 1;
  }
  const std::string path = settings_path(argc, argv);
  auto c = std::make_unique<console>();
  const int refused = read_settings(path, &c->settings);
  return refused != 0 ? refused : run(*c, path);
}
