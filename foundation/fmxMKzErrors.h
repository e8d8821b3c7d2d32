// Exceptions the library raises on the caller's thread.
#pragma once
#include <stdexcept>
#include <string>

namespace kz {

// The library's own failures (invalid arguments and the like).
class EKzMediaError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A broken contract of the caller (for example unregistering a component
// that was never registered). Raised in every build type.
class EKzAssertionFailed : public EKzMediaError {
public:
  EKzAssertionFailed() : EKzMediaError("Assertion failure") {}
};

// Text that cannot be converted to the requested value (the platform's
// conversion error).
class EKzConvertError : public EKzMediaError {
public:
  using EKzMediaError::EKzMediaError;
};

inline void KzAssert(bool Condition) {
  if (!Condition) throw EKzAssertionFailed();
}

}  // namespace kz
