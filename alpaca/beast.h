// Boost.Beast and Boost.Asio for the HTTP layer, included in one place.
// Boost 1.74's asio/awaitable.hpp uses std::exchange without including
// <utility>, which GCC 12 rejects in C++20: it is included first here.
#pragma once

#include <utility>

// Asio 1.74 looks for Clang's coroutines only where libc++ keeps them; with
// libstdc++ (clang-tidy here) it is told they are there.
#if defined(__clang__) && defined(__cpp_impl_coroutine) && !defined(BOOST_ASIO_HAS_CO_AWAIT)
#define BOOST_ASIO_HAS_CO_AWAIT 1
#define BOOST_ASIO_HAS_STD_COROUTINE 1
#endif

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

namespace tarnscsi::alpaca {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using Tcp = boost::asio::ip::tcp;

// The completion token of a coroutine's wait that leaves its failure in
// `error` rather than throwing it.
inline auto Awaited(boost::system::error_code& error) { return asio::redirect_error(asio::use_awaitable, error); }

}  // namespace tarnscsi::alpaca
