// ir/serial_object.h - objects numbered by the registry of their owner.
//
// Passes are numbered by the pass manager, basic blocks by their function:
// creating such an object appends it to its owner's registry, and its index
// there is its serial number.  Destroying it empties its slot.
#pragma once

#include <cstdint>
#include <vector>

namespace zor {

// Serial number of an object that belongs to no registry.
constexpr uint32_t kNoSerial = 0xffffffffu;

// Ends the run for a registry slot that does not exist
// ("invalid vector<T> subscript").
[[noreturn]] void invalid_registry_subscript();

// Base of objects numbered by the registry of an `Owner`, which provides
// `std::vector<T *> &registry()`.
template <class T, class Owner> class serial_object {
public:
  using registry_type = std::vector<T *>;

  serial_object(const serial_object &) = delete;
  serial_object &operator=(const serial_object &) = delete;
  virtual ~serial_object() {
    if (!registry_ || serial_ == kNoSerial)
      return;
    if (serial_ >= registry_->size())
      invalid_registry_subscript();
    (*registry_)[serial_] = nullptr;
  }

  uint32_t serial() const { return serial_; }

protected:
  // `self` is the derived object being constructed (passed in rather than
  // cast from `this`, which is not a T yet).  A null owner gives an object
  // without a serial number.
  serial_object(Owner *owner, T *self) : registry_(owner ? &owner->registry() : nullptr) {
    if (registry_) {
      serial_ = static_cast<uint32_t>(registry_->size());
      registry_->push_back(self);
    }
  }

private:
  uint32_t serial_ = kNoSerial;
  registry_type *registry_;
};

} // namespace zor
