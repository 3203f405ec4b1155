// The terminal the front-end runs in: line and password input that Ctrl-C can
// interrupt, and the Ctrl-C policy outside prompts (end the program at once,
// except while the access point erases or writes).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace quorsel {

class Console {
public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    bool StdoutIsTerminal() const { return stdoutIsTerminal_; }

    // One line from standard input without its line end; nullopt at end of input
    // or when Ctrl-C interrupts the prompt.
    std::optional<std::string> ReadLine();
    // One line from the controlling terminal with echo off (standard input when
    // there is none); nullopt at end of input or on Ctrl-C.
    std::optional<std::string> ReadSecret();
    // Waits until eventFd is readable (true) or Ctrl-C interrupts (false).
    bool WaitForEvent(int eventFd);

    // While busy, Ctrl-C is ignored.
    void SetBusy(bool busy) { busy_ = busy; }
    // A program with a Ctrl-C policy of its own: outside prompts, Ctrl-C calls handler
    // (on the console's watcher thread) instead of ending the program.
    void SetInterruptHandler(std::function<void()> handler);

    // Ctrl-C cancels a prompt for as long as one of these lives: from before the
    // prompt's text is printed until its answer is in.
    class PromptScope {
    public:
        explicit PromptScope(Console& console);
        ~PromptScope();
        PromptScope(const PromptScope&) = delete;
        PromptScope& operator=(const PromptScope&) = delete;

    private:
        Console& console_;
    };

private:
    enum class Wait { Input, Interrupted, Closed };
    Wait WaitReadable(int fd);
    std::optional<std::string> ReadLineFrom(int fd, std::string& pending);
    void WatchInterrupts();

    bool stdoutIsTerminal_;
    std::atomic<bool> busy_{false};
    std::atomic<int> prompts_{0};  // open prompt scopes
    std::mutex handlerMutex_;
    std::function<void()> interruptHandler_;
    int wakePipe_[2] = {-1, -1};  // written by the Ctrl-C watcher to interrupt a prompt
    std::string stdinPending_;
    std::thread watcher_;
};

}  // namespace quorsel
