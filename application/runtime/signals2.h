#pragma once

// Boost.Signals2 for the service's signals. Every slot's key holds a boost::optional<int> group
// that GCC's optimiser (with the sanitizers at -O2) takes for uninitialized when it inlines a
// connection, a known false positive of -Wmaybe-uninitialized with boost::optional: it is
// silenced for this header only (clang has no such warning).
#pragma GCC diagnostic push
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/signals2/connection.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/signals2/slot.hpp>
#pragma GCC diagnostic pop
