#pragma once
// A handler slot: a callable together with the context (the window) that installed it. An
// empty slot is skipped.
#include <functional>
#include <utility>

namespace scoutor {

template <class... TArgs>
class THandlerSlot {
 public:
  using THandler = std::function<void(TArgs...)>;

  void Set(const void* context, THandler handler) {
    Context = context;
    Handler = std::move(handler);
  }
  const void* Owner() const { return Context; }
  explicit operator bool() const { return static_cast<bool>(Handler); }

  void operator()(TArgs... args) const {
    if (Handler) Handler(std::forward<TArgs>(args)...);
  }

 private:
  const void* Context = nullptr;
  THandler Handler;
};

}  // namespace scoutor
