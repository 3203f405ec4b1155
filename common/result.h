// Result<T, E>: a value or an error, for operations that report failure as a value.
// A small stand-in for std::expected, which C++20 does not have.
#pragma once

#include <utility>
#include <variant>

namespace quorsel {

template <typename E>
struct Failure {
    E error;
};

template <typename E>
Failure<E> Fail(E error) { return Failure<E>{error}; }

template <typename T, typename E>
class Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure<E> failure) : state_(std::in_place_index<1>, failure.error) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    E error() const { return std::get<1>(state_); }
    // The value, or fallback when there is none.
    T value_or(T fallback) const& { return ok() ? value() : std::move(fallback); }

private:
    std::variant<T, E> state_;
};

}  // namespace quorsel
