// The two exception classes of the tree files. Both are thrown by value and caught by reference.
#pragma once

#include <cstdint>

namespace ludrex {

// Stands for a message code; report() raises it through Error, show() puts it in a notice.
class fException {
 public:
  explicit fException(std::uint32_t value) : value_(value) {}
  virtual ~fException() = default;
  virtual std::uint32_t code() const { return value_; }
  void report() const;
  void show() const;

 protected:
  std::uint32_t value_;
};

// Damaged or inconsistent tree files: the tree must be rebuilt (message 1020). The stored value
// is the thrower's 0/1 flag.
class TBException : public fException {
 public:
  explicit TBException(std::uint32_t flag) : fException(flag) {}
  std::uint32_t code() const override { return 1020; }
  std::uint32_t flag() const { return value_; }
};

}  // namespace ludrex
