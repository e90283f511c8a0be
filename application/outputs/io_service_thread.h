#pragma once

#include <boost/asio/io_service.hpp>
#include <string>

#include "application/runtime/base_thread.h"

class ThreadManager;

// A thread that runs an io_service owned by somebody else until the service is stopped.
class IOServiceThread : public BaseThread {
public:
    IOServiceThread(boost::asio::io_service& service, const std::string& name, ThreadManager& manager);

    // Stops the service first, so that a thread blocked in it wakes up.
    void Terminate(bool wait) override;

protected:
    void ThreadFunc() override;

private:
    boost::asio::io_service& m_service;  // owned by the creator, outlives this thread
};
