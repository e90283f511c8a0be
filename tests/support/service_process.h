#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>

#include "support/launcher.h"

namespace testing_support {

// A fresh temporary directory, removed with its content at the end of the test.
class TempDir {
public:
    TempDir() : TempDir(boost::filesystem::temp_directory_path()) {}
    // In `parent` rather than in the temporary directory.
    explicit TempDir(const boost::filesystem::path& parent)
        : m_path(parent / boost::filesystem::unique_path("flowtally-%%%%%%%%%%"))
    {
        boost::filesystem::create_directories(m_path);
    }
    ~TempDir()
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name = std::string()) const
    {
        return name.empty() ? m_path.string() : (m_path / name).string();
    }

private:
    boost::filesystem::path m_path;
};

// The built flowtally binary (its path comes from CTest), started with the given arguments.
// Standard output and error are collected together.
class ServiceProcess {
public:
    explicit ServiceProcess(const std::vector<std::string>& args)
    {
        const char* binary = std::getenv("FLOWTALLY_BINARY");
        if (!binary)
            throw std::runtime_error("FLOWTALLY_BINARY is not set");
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        std::vector<std::string> argv_storage{binary};
        argv_storage.insert(argv_storage.end(), args.begin(), args.end());
        argv_storage = LaunchCommand(std::move(argv_storage));
        std::vector<char*> argv;
        for (auto& a : argv_storage)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);

        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            dup2(fds[1], STDERR_FILENO);
            int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            dup2(null_fd, STDIN_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        m_read_fd = fds[0];
        m_reader = std::thread([this] { ReadOutput(); });
    }

    ~ServiceProcess()
    {
        if (!m_exited) {
            kill(m_pid, SIGKILL);
            WaitForExit(std::chrono::seconds(10));
        }
        if (m_reader.joinable())
            m_reader.join();
        close(m_read_fd);
    }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    void Signal(int signal_number) { kill(m_pid, signal_number); }

    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout,
                                  [&] { return m_output.find(text) != std::string::npos || m_eof; }) &&
               m_output.find(text) != std::string::npos;
    }

    bool WaitForExit(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!m_exited) {
            int status = 0;
            pid_t result = waitpid(m_pid, &status, WNOHANG);
            if (result == m_pid) {
                m_exited = true;
                m_status = status;
                break;
            }
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // Collect everything the process wrote.
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_eof; });
        return true;
    }

    bool ExitedNormally() const { return m_exited && WIFEXITED(m_status); }
    int ExitCode() const { return ExitedNormally() ? WEXITSTATUS(m_status) : -1; }
    // The signal that ended the process; 0 while it runs or when it exited.
    int TermSignal() const { return m_exited && WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0; }
    pid_t Pid() const { return m_pid; }

    std::string Output()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_output;
    }

private:
    void ReadOutput()
    {
        char buffer[4096];
        for (;;) {
            ssize_t n = read(m_read_fd, buffer, sizeof(buffer));
            if (n <= 0)
                break;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_output.append(buffer, static_cast<size_t>(n));
            }
            m_changed.notify_all();
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_eof = true;
        }
        m_changed.notify_all();
    }

    pid_t m_pid = -1;
    int m_read_fd = -1;
    bool m_exited = false;
    int m_status = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_output;
    bool m_eof = false;
    std::thread m_reader;
};

}  // namespace testing_support
