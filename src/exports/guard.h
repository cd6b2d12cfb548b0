// The guard every export body runs in: a fatal error raised inside the library unwinds to here
// and the export returns its failure result. No exception ever crosses into the host.
#pragma once

#include <new>
#include <utility>

#include "frame/error.h"

namespace ludrex {

template <class R, class Body>
R Guard(R failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const Failure&) {
    return failure;
  } catch (const std::bad_alloc&) {
    ReportFatal(1);
    return failure;
  } catch (...) {
    return failure;
  }
}

template <class Body>
void GuardVoid(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (const Failure&) {
  } catch (const std::bad_alloc&) {
    ReportFatal(1);
  } catch (...) {
  }
}

}  // namespace ludrex
