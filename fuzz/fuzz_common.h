// What every harness shares: messages go nowhere, documents are walked.
#pragma once

#include <memory>

#include "document/player.h"
#include "base/reporter.h"

namespace fbfuzz {

// Messages go to a recorder, emptied here; it is returned to look at.
inline fb::RecordingReporter& quiet() {
  static fb::RecordingReporter* sink = [] {
    auto* r = new fb::RecordingReporter;
    fb::setGlobalReporter(r);
    return r;
  }();
  sink->clear();
  return *sink;
}

// Every picture of the document, as a viewer would show it.
inline void composite(fb::Animation& a) {
  // Huge screens are refused by the compositor anyway; large ones only slow the fuzzer.
  if (static_cast<int64_t>(a.width) * a.height > (1 << 22)) return;
  auto p = fb::startPlayer(a);
  if (!p) return;
  int n = 0;
  for (fb::Frame* c = fb::firstPicture(*p); c && n < 256; c = fb::nextPicture(*p)) ++n;
}

}  // namespace fbfuzz
