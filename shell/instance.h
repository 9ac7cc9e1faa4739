// One console per installation. The first console that runs with its window listens on the
// UNIX socket "veldana.sock" in the program directory, holding the lock file
// "veldana.instance" beside it for as long as it runs. A second console hands the open
// request to it and ends; any local process may send the close request the same way
// ("veldana /close"). A socket left by a killed console is stale: its lock is gone, and the
// next console takes the name over.
//
// The protocol is one line each way: the client sends "open\n" or "close\n", the console
// answers "ok\n" once it has posted the request to its main window. Anything else, or a
// line that does not arrive whole, is dropped without an answer.
#pragma once

#include <functional>
#include <string>

#include "platform/files.h"

namespace shell {

enum class InstanceRequest { kOpen, kClose };

enum class HandOver {
    kDone,       // the running console took the request
    kNoConsole,  // nobody listens on this installation
    kFailed,     // a console listens but did not answer
};
// Sends the request to the console running on `programDir`, waiting up to `answerWaitMs`
// for its answer: a console answers from its message loop, so one busy with its start-up
// work or a rebuild answers late.
HandOver SendToRunningConsole(const std::string& programDir, InstanceRequest request,
                              int answerWaitMs);

// Waits up to `waitMs` for the console on `programDir` to end (its lock to be let go);
// true when none runs any more.
bool WaitForConsoleEnd(const std::string& programDir, int waitMs);

// The running console's side: the lock and the listening socket, watched by the GUI
// thread's wait (ui::WatchDescriptor); each request calls `onRequest` there.
class InstanceListener {
  public:
    enum class Outcome { kListening, kAnotherRuns, kFailed };

    InstanceListener() = default;
    ~InstanceListener();
    InstanceListener(const InstanceListener&) = delete;
    InstanceListener& operator=(const InstanceListener&) = delete;

    Outcome Listen(const std::string& programDir,
                   std::function<void(InstanceRequest)> onRequest, std::string& error);
    // Stops listening and removes the socket (also done on destruction).
    void Close();

  private:
    struct Client {
        platform::FileHandle socket;
        std::string received;
    };
    void Accept();
    void Read(int fd);
    void Drop(int fd);

    platform::FileHandle directory_;
    platform::FileHandle lock_;
    platform::FileHandle socket_;
    std::vector<Client> clients_;
    std::function<void(InstanceRequest)> onRequest_;
};

}  // namespace shell
