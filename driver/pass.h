// driver/pass.h - the named steps of the pipeline and the registry that numbers them.
//
// Every pass is a `serial_object<pass, pass_manager>`: creating it appends it
// to its manager's registry, and its index there is its serial number, which
// is also its step number in the logs, in forced pass orders and in the
// switch "debug:skip_pass".  A pass holds its name and the function that
// performs it; a `barrier_pass` runs once for the whole program when every
// function's queue has reached it (driver/pipeline.h).
//
// The manager owns the passes it creates.  Destroying a pass empties its slot
// in the registry; a pass whose slot no longer exists (the registry was
// emptied first) is an internal failure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ir/serial_object.h"

namespace zor {

class pass_manager;

class pass : public serial_object<pass, pass_manager> {
public:
  // Acts on the current function (`currfunc`, `currfuninfo`), or on the
  // whole program for a barrier.
  using function = std::function<void()>;

  pass(pass_manager *owner, std::string name, function fn)
      : serial_object(owner, this), name_(std::move(name)), fn_(std::move(fn)) {}
  ~pass() override = default;

  virtual bool is_barrier() const { return false; }

  const std::string &name() const { return name_; }
  uint32_t step() const { return serial(); }
  void perform() const {
    if (fn_)
      fn_();
  }

private:
  std::string name_;
  function fn_;
};

class barrier_pass final : public pass {
public:
  using pass::pass;
  bool is_barrier() const override { return true; }
};

// The registry of passes by step number, and the owner of the passes it
// creates.
class pass_manager {
public:
  pass_manager() = default;
  pass_manager(const pass_manager &) = delete;
  pass_manager &operator=(const pass_manager &) = delete;
  ~pass_manager() { clear(); }

  std::vector<pass *> &registry() { return registry_; }
  size_t size() const { return registry_.size(); }
  // The pass with this step number, or null (no such step, or destroyed).
  pass *at(uint32_t step) const { return step < registry_.size() ? registry_[step] : nullptr; }

  // A new pass (or barrier_pass) owned by the manager, numbered next.
  template <class P = pass> P *create(std::string name, pass::function fn) {
    auto owned = std::make_unique<P>(this, std::move(name), std::move(fn));
    P *raw = owned.get();
    owned_.push_back(std::move(owned));
    return raw;
  }

  // Destroys the owned passes (each empties its slot), then empties the
  // registry, so that the next pass created is step 0 again.
  void clear() {
    owned_.clear();
    registry_.clear();
  }

private:
  std::vector<pass *> registry_;
  std::vector<std::unique_ptr<pass>> owned_;
};

} // namespace zor
