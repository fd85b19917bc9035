// The one start of a thread: the listing's and the hashers'.
#include <functional>
#include <thread>

#include "common/common.h"

namespace {

bool startThread(std::thread *thread, std::function<void()> body) {
  try {
    *thread = std::thread(std::move(body));
  } catch (...) {  // no thread to be had
    return false;
  }
  return true;
}

}  // namespace

bool (*ThreadStart)(std::thread *, std::function<void()>) = startThread;
