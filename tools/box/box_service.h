#pragma once
// A service of the simulated box (discovery responder, configuration
// service, ...). box_main starts each one, lets it run on its own thread and
// stops them all in reverse order at the end.

#include <string>

class BoxService
{
public:
    virtual ~BoxService() = default;
    virtual const char* Name() const = 0;
    // Opens what the service needs and starts its thread. False with a
    // reason when it cannot run.
    virtual bool Start(std::string& error) = 0;
    // Ends the thread and releases everything; returns once it is gone.
    virtual void Stop() = 0;
};
