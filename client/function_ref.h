// A non-owning reference to a callable, cheaper than std::function on the
// per-call path (no allocation, one indirect call).
#pragma once

#include <type_traits>
#include <utility>

namespace tqbse {

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
public:
    template <typename F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef>)
    FunctionRef(F&& f) // NOLINT: implicit by design
        : object_(const_cast<void*>(static_cast<const void*>(&f)))
        , call_([](void* o, Args... args) -> R {
            return (*static_cast<std::remove_reference_t<F>*>(o))(std::forward<Args>(args)...);
        })
    {
    }
    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

private:
    void* object_;
    R (*call_)(void*, Args...);
};

} // namespace tqbse
