#include "platform/net/URLSession.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/LoopbackServer.hpp"
#include "platform/net/RecordingDelegate.hpp"
#include "platform/net/TestDelegateQueue.hpp"
#include "platform/net/private/TransportError.hpp"
#include "tests/support/SpinUntil.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

using test::LoopbackServer;
using test::RecordedRequest;
using test::RecordingDelegate;
using test::ServerConnection;
using test::TestDelegateQueue;

constexpr auto generousWait = std::chrono::seconds(20);

URLRequest requestFor(const std::string& text) {
    return URLRequest(URL::fromString(text));
}

// The outcome of a task made with a completion handler.
struct Outcome {
    std::optional<Data> data;
    std::shared_ptr<URLResponse> response;
    std::optional<Error> error;
    int calls = 0;
    std::thread::id thread;
};

class OutcomeWaiter {
  public:
    URLSession::CompletionHandler handler() {
        return [this](std::optional<Data> data, std::shared_ptr<URLResponse> response,
                      std::optional<Error> error) {
            std::lock_guard lock(mutex_);
            outcome_.data = std::move(data);
            outcome_.response = std::move(response);
            outcome_.error = std::move(error);
            outcome_.thread = std::this_thread::get_id();
            ++outcome_.calls;
            changed_.notify_all();
        };
    }
    Outcome wait() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, generousWait, [&] { return outcome_.calls > 0; });
        return outcome_;
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return outcome_.calls;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Outcome outcome_;
};

std::shared_ptr<HTTPURLResponse> http(const std::shared_ptr<URLResponse>& response) {
    return std::dynamic_pointer_cast<HTTPURLResponse>(response);
}

class URLSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.route("/hello", [](const RecordedRequest&, ServerConnection& connection) {
            connection.write(LoopbackServer::reply(200, {{"X-Reply", "yes"}}, "hello"));
        });
        server_.route("/echo", [](const RecordedRequest& request, ServerConnection& connection) {
            connection.write(LoopbackServer::reply(201, {}, request.body));
        });
        session_ =
            URLSession::make(URLSessionConfiguration::defaultConfiguration(), delegate_, queue_);
    }

    void TearDown() override {
        session_->invalidateAndCancel();
        EXPECT_TRUE(delegate_->waitForInvalidation());
        EXPECT_FALSE(delegate_->sawOverlap());
    }

    // Runs a completion-handler task and waits for it.
    Outcome load(URLRequest request) {
        OutcomeWaiter waiter;
        session_->dataTask(std::move(request), waiter.handler())->resume();
        return waiter.wait();
    }

    // Ends the session and waits until its last delegate call has run: its invalidation report
    // comes after every task's end, and the queue then runs dry. Counts read afterwards are
    // final.
    void settle() {
        session_->invalidateAndCancel();
        ASSERT_TRUE(delegate_->waitForInvalidation());
        ASSERT_TRUE(queue_->waitUntilIdle());
    }

    // Runs a delegate task to its end and returns its record.
    RecordingDelegate::TaskRecord stream(URLRequest request) {
        auto task = session_->dataTask(std::move(request));
        task->resume();
        EXPECT_TRUE(delegate_->waitForCompletion(task->taskIdentifier()));
        return delegate_->record(task->taskIdentifier());
    }

    LoopbackServer server_;
    std::shared_ptr<TestDelegateQueue> queue_ = std::make_shared<TestDelegateQueue>();
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<URLSession> session_;
};

TEST_F(URLSessionTest, RequestGoesOnTheWireExactlyAsBuilt) {
    struct Case {
        std::string name;
        std::function<void(URLRequest&)> build;
        std::string expectedRequestLine;
        std::vector<std::pair<std::string, std::string>> expectedHeaders;  // besides Host
        std::string expectedBody;
    };
    const std::vector<Case> cases = {
        {"plain GET", [](URLRequest&) {}, "GET /echo?a=1 HTTP/1.1", {{"Accept-Encoding", "*"}}, ""},
        {"method verbatim",
         [](URLRequest& r) { r.setHTTPMethod("get"); },
         "get /echo?a=1 HTTP/1.1",
         {{"Accept-Encoding", "*"}},
         ""},
        {"set replaces, add appends",
         [](URLRequest& r) {
             r.setValue("one", "X-Token");
             r.setValue("two", "x-token");
             r.addValue("a", "X-List");
             r.addValue("b", "X-List");
             r.setValue("keep", "Authorization");
         },
         "GET /echo?a=1 HTTP/1.1",
         {{"X-Token", "two"},
          {"X-List", "a,b"},
          {"Authorization", "keep"},
          {"Accept-Encoding", "*"}},
         ""},
        {"POST with body and content type",
         [](URLRequest& r) {
             r.setHTTPMethod("POST");
             r.setValue("application/json", "Content-Type");
             r.setHTTPBody(dataFromString("{\"k\":1}"));
         },
         "POST /echo?a=1 HTTP/1.1",
         {{"Content-Type", "application/json"}, {"Accept-Encoding", "*"}, {"Content-Length", "7"}},
         "{\"k\":1}"},
        {"PUT without content type gets none",
         [](URLRequest& r) {
             r.setHTTPMethod("PUT");
             r.setHTTPBody(dataFromString("bytes"));
         },
         "PUT /echo?a=1 HTTP/1.1",
         {{"Accept-Encoding", "*"}, {"Content-Length", "5"}},
         "bytes"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        URLRequest request = requestFor(server_.url("/echo?a=1"));
        c.build(request);
        Outcome outcome = load(request);
        ASSERT_EQ(outcome.calls, 1);
        ASSERT_FALSE(outcome.error) << outcome.error->description();
        ASSERT_TRUE(server_.waitForRequests(i + 1));
        const RecordedRequest received = server_.requests()[i];
        EXPECT_EQ(received.head.substr(0, received.head.find("\r\n")), c.expectedRequestLine);
        std::vector<std::pair<std::string, std::string>> headers;
        for (const auto& field : received.headers) {
            if (field.first == "Host")
                continue;
            // libcurl lists the codings it can decode; only its presence matters here.
            headers.emplace_back(field.first,
                                 field.first == "Accept-Encoding" ? "*" : field.second);
        }
        auto expected = c.expectedHeaders;
        std::sort(headers.begin(), headers.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(headers, expected);
        EXPECT_EQ(received.body, c.expectedBody);
        ASSERT_TRUE(outcome.data && http(outcome.response));
        EXPECT_EQ(stringFromData(*outcome.data), c.expectedBody);
        EXPECT_EQ(http(outcome.response)->statusCode(), 201);
    }
}

TEST_F(URLSessionTest, CompletionHandlerRunsOnceOnTheDelegateQueueWithBodyAndResponse) {
    OutcomeWaiter waiter;
    session_->dataTask(requestFor(server_.url("/hello")), waiter.handler())->resume();
    Outcome outcome = waiter.wait();
    settle();
    EXPECT_EQ(waiter.calls(), 1);
    EXPECT_TRUE(queue_->ranOn(outcome.thread));
    EXPECT_FALSE(outcome.error);
    ASSERT_TRUE(outcome.data);
    EXPECT_EQ(stringFromData(*outcome.data), "hello");
    auto response = http(outcome.response);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode(), 200);
    EXPECT_EQ(response->valueForHTTPHeaderField("x-reply"), "yes");
    EXPECT_EQ(response->allHeaderFields().at("X-Reply"), "yes");
    EXPECT_EQ(response->expectedContentLength(), 5);
    ASSERT_TRUE(response->url());
    EXPECT_EQ(response->url()->absoluteString(), server_.url("/hello"));
    const std::string description = response->debugDescription();
    EXPECT_NE(description.find(server_.url("/hello")), std::string::npos);
    EXPECT_NE(description.find("200"), std::string::npos);
    EXPECT_NE(description.find("X-Reply"), std::string::npos);
}

TEST_F(URLSessionTest, DelegateSeesResponseThenChunksInOrderThenOneCompletion) {
    const std::string body(200000, 'x');
    // By value: the server's thread may still be in the route when the test has ended.
    server_.route("/big", [body](const RecordedRequest&, ServerConnection& connection) {
        std::string head =
            "HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-199999/500000\r\n"
            "Content-Length: 200000\r\n\r\n";
        connection.write(head);
        for (size_t sent = 0; sent < body.size(); sent += 10000) {
            connection.write(body.substr(sent, 10000));
        }
    });
    auto record = stream(requestFor(server_.url("/big")));
    ASSERT_GE(record.events.size(), 3u);
    EXPECT_EQ(record.events.front(), "response 206");
    EXPECT_EQ(record.events.back(), "complete");
    for (size_t i = 1; i + 1 < record.events.size(); ++i) EXPECT_EQ(record.events[i], "data");
    EXPECT_EQ(record.body, body);
    EXPECT_EQ(record.completions, 1);
    EXPECT_FALSE(record.error);
    for (auto thread : record.threads) EXPECT_TRUE(queue_->ranOn(thread));
}

TEST_F(URLSessionTest, ASlowDelegateHoldsTheTransferBackAndStillGetsEveryByteInOrder) {
    // Far more than the session buffers for a delegate that lags; a byte pattern that shows
    // a lost, repeated or reordered chunk.
    constexpr std::size_t bodySize = 12 * 1024 * 1024;
    constexpr std::int64_t bufferedBound = 1024 * 1024;
    auto body = std::make_shared<std::string>(bodySize, '\0');
    for (std::size_t i = 0; i < bodySize; ++i) (*body)[i] = static_cast<char>(i % 251);
    // Shared: the server's thread may still be in the route when the test has ended.
    server_.route("/large", [body](const RecordedRequest&, ServerConnection& connection) {
        connection.write(LoopbackServer::reply(200, {}, *body));
    });
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    // What the delegate notes, shared with it: a test that fails early must not leave it
    // writing into a frame that is gone.
    struct Seen {
        std::atomic<bool> first{true};
        // The body's length after each chunk (the delegate runs one call at a time).
        std::vector<std::size_t> lengths;
    };
    const auto seen = std::make_shared<Seen>();
    delegate_->onData = [delegate = delegate_.get(), released,
                         seen](const std::shared_ptr<URLSessionDataTask>& dataTask) {
        seen->lengths.push_back(delegate->bodyLength(dataTask->taskIdentifier()));
        if (seen->first.exchange(false))
            released.wait_for(generousWait);
    };

    auto task = session_->dataTask(requestFor(server_.url("/large")));
    task->resume();
    // While the delegate sits on its first chunk, the body is taken in only up to the bound.
    EXPECT_TRUE(testing::spinUntil([&] { return task->countOfBytesReceived() >= 256 * 1024; }));
    EXPECT_FALSE(testing::spinUntil([&] { return task->countOfBytesReceived() > bufferedBound; },
                                    std::chrono::milliseconds(300)))
        << task->countOfBytesReceived();
    release.set_value();

    ASSERT_TRUE(delegate_->waitForCompletion(task->taskIdentifier()));
    auto record = delegate_->record(task->taskIdentifier());
    EXPECT_FALSE(record.error);
    EXPECT_EQ(record.body.size(), body->size());
    EXPECT_TRUE(record.body == *body);
    // What arrived while the delegate sat on its first chunk comes as one chunk, not as the
    // many small pieces the transfer read it in.
    const auto& lengths = seen->lengths;
    ASSERT_GE(lengths.size(), 2u);
    EXPECT_GE(lengths[1] - lengths[0], 64u * 1024);
}

TEST_F(URLSessionTest, ChunksQueuedBehindACancellingCallbackAreDropped) {
    const std::string body(1024 * 1024, 'z');
    server_.route("/large", [body](const RecordedRequest&, ServerConnection& connection) {
        connection.write(LoopbackServer::reply(200, {}, body));
    });
    std::atomic<bool> first{true};
    delegate_->onData = [&first](const std::shared_ptr<URLSessionDataTask>& task) {
        if (!first.exchange(false))
            return;
        // More chunks are waiting for the delegate queue before this one cancels.
        EXPECT_TRUE(testing::spinUntil([&] { return task->countOfBytesReceived() >= 128 * 1024; }));
        task->cancel();
    };
    auto record = stream(requestFor(server_.url("/large")));
    EXPECT_EQ(record.events, (std::vector<std::string>{"response 200", "data", "complete"}));
    ASSERT_TRUE(record.error);
    EXPECT_EQ(record.error->code(), URLError::cancelled);
}

TEST_F(URLSessionTest, ADataHandlerGetsTheBodyInOrderHoldingTheTransferBackThenAnEmptyEnd) {
    constexpr std::size_t bodySize = 6 * 1024 * 1024;
    constexpr std::int64_t bufferedBound = 1024 * 1024;
    std::string body(bodySize, '\0');
    for (std::size_t i = 0; i < bodySize; ++i) body[i] = static_cast<char>(i % 253);
    server_.route("/large", [body](const RecordedRequest&, ServerConnection& connection) {
        connection.write(LoopbackServer::reply(202, {}, body));
    });
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    // Touched only by the handler, whose calls never overlap, and read after the end.
    std::string received;
    std::vector<int> statuses;
    std::vector<std::thread::id> threads;
    std::atomic<int> inHandler{0};
    bool overlapped = false;
    auto handler = [&](const Data& chunk, const std::shared_ptr<URLResponse>& response) {
        overlapped |= inHandler.fetch_add(1) != 0;
        if (received.empty())
            released.wait_for(generousWait);
        received.append(chunk.begin(), chunk.end());
        statuses.push_back(http(response) ? http(response)->statusCode() : 0);
        threads.push_back(std::this_thread::get_id());
        inHandler.fetch_sub(1);
    };
    OutcomeWaiter waiter;
    auto task = session_->dataTask(requestFor(server_.url("/large")), handler, waiter.handler());
    task->resume();
    // While the handler sits on its first chunk, the body is taken in only up to the bound.
    EXPECT_TRUE(testing::spinUntil([&] { return task->countOfBytesReceived() >= 256 * 1024; }));
    EXPECT_FALSE(testing::spinUntil([&] { return task->countOfBytesReceived() > bufferedBound; },
                                    std::chrono::milliseconds(300)))
        << task->countOfBytesReceived();
    release.set_value();

    Outcome outcome = waiter.wait();
    settle();
    EXPECT_EQ(waiter.calls(), 1);
    EXPECT_FALSE(outcome.error);
    EXPECT_FALSE(outcome.data) << "the body went to the data handler";
    ASSERT_TRUE(http(outcome.response));
    EXPECT_EQ(http(outcome.response)->statusCode(), 202);
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(received.size(), body.size());
    EXPECT_TRUE(received == body);
    EXPECT_EQ(statuses, std::vector<int>(statuses.size(), 202));
    for (auto thread : threads) EXPECT_TRUE(queue_->ranOn(thread));
    EXPECT_TRUE(delegate_->record(task->taskIdentifier()).events.empty())
        << "nothing of the task goes to the delegate";
}

TEST_F(URLSessionTest, AShortBodyReachesADataHandlerInOnePieceBeforeTheEnd) {
    // Sent in two writes, the second once the first is in: still one hand-over, as the body is
    // shorter than a chunk.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    server_.route("/pieces", [released](const RecordedRequest&, ServerConnection& connection) {
        connection.write("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\nfour");
        released.wait_for(generousWait);
        connection.write("fivesix!");
    });
    std::vector<std::string> chunks;
    bool endedFirst = false;
    OutcomeWaiter waiter;
    auto handler = waiter.handler();
    auto task = session_->dataTask(
        requestFor(server_.url("/pieces")),
        [&](const Data& chunk, const std::shared_ptr<URLResponse>&) {
            endedFirst |= waiter.calls() > 0;
            chunks.push_back(stringFromData(chunk));
        },
        handler);
    task->resume();
    EXPECT_TRUE(testing::spinUntil([&] { return task->countOfBytesReceived() >= 4; }));
    release.set_value();
    Outcome outcome = waiter.wait();
    settle();
    EXPECT_FALSE(outcome.error);
    EXPECT_FALSE(endedFirst);
    EXPECT_EQ(chunks, std::vector<std::string>{"fourfivesix!"});
}

TEST_F(URLSessionTest, ADataHandlerThatCancelsGetsNoMoreChunksAndACancelledEnd) {
    const std::string body(1024 * 1024, 'z');
    server_.route("/large", [body](const RecordedRequest&, ServerConnection& connection) {
        connection.write(LoopbackServer::reply(200, {}, body));
    });
    int chunks = 0;
    std::shared_ptr<URLSessionDataTask> task;
    std::promise<void> made;
    std::shared_future<void> ready = made.get_future().share();
    OutcomeWaiter waiter;
    task = session_->dataTask(
        requestFor(server_.url("/large")),
        [&](const Data&, const std::shared_ptr<URLResponse>&) {
            ready.wait_for(generousWait);
            if (++chunks > 1)
                return;
            // More chunks are waiting for the queue before this one cancels.
            EXPECT_TRUE(
                testing::spinUntil([&] { return task->countOfBytesReceived() >= 128 * 1024; }));
            task->cancel();
        },
        waiter.handler());
    made.set_value();
    task->resume();
    Outcome outcome = waiter.wait();
    settle();
    EXPECT_EQ(chunks, 1);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), URLError::cancelled);
    EXPECT_FALSE(outcome.data);
}

TEST_F(URLSessionTest, NoBodyBytesBeforeTheResponseIsAllowed) {
    std::promise<URLSessionDelegate::DispositionHandler> pending;
    delegate_->answer = [&](URLSessionDelegate::DispositionHandler handler) {
        pending.set_value(std::move(handler));
    };
    auto task = session_->dataTask(requestFor(server_.url("/hello")));
    task->resume();
    auto future = pending.get_future();
    ASSERT_EQ(future.wait_for(generousWait), std::future_status::ready);
    auto handler = future.get();
    // The body came in the same write as the head. Another load through the same network
    // thread, then a dry delegate queue: anything the body caused has been delivered by now.
    load(requestFor(server_.url("/hello")));
    ASSERT_TRUE(queue_->waitUntilIdle());
    EXPECT_EQ(delegate_->record(task->taskIdentifier()).events,
              std::vector<std::string>{"response 200"});
    EXPECT_EQ(task->countOfBytesReceived(), 0);
    handler(URLSessionDelegate::ResponseDisposition::allow);
    ASSERT_TRUE(delegate_->waitForCompletion(task->taskIdentifier()));
    auto record = delegate_->record(task->taskIdentifier());
    EXPECT_EQ(record.events, (std::vector<std::string>{"response 200", "data", "complete"}));
    EXPECT_EQ(record.body, "hello");
}

TEST_F(URLSessionTest, CancelDispositionEndsTheTaskCancelledWithoutData) {
    delegate_->answer = [](URLSessionDelegate::DispositionHandler handler) {
        handler(URLSessionDelegate::ResponseDisposition::cancel);
    };
    auto record = stream(requestFor(server_.url("/hello")));
    EXPECT_EQ(record.events, (std::vector<std::string>{"response 200", "complete"}));
    ASSERT_TRUE(record.error);
    EXPECT_EQ(record.error->code(), URLError::cancelled);
}

TEST_F(URLSessionTest, CancelEndsTheTaskExactlyOnceWithCancelled) {
    server_.route("/stall", [](const RecordedRequest&, ServerConnection& connection) {
        connection.write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc");
        connection.stall();
    });
    // Cancelled before it starts, while waiting for the body, and from inside a data callback.
    auto early = session_->dataTask(requestFor(server_.url("/stall")));
    early->cancel();
    early->resume();
    ASSERT_TRUE(delegate_->waitForCompletion(early->taskIdentifier()));

    auto waiting = session_->dataTask(requestFor(server_.url("/stall")));
    std::atomic<bool> cancelledFromCallback{false};
    delegate_->onData = [&](const std::shared_ptr<URLSessionDataTask>& task) {
        if (task != waiting) {
            task->cancel();
            task->cancel();
            cancelledFromCallback = true;
        }
    };
    waiting->resume();
    ASSERT_TRUE(server_.waitForRequests(1));
    auto inCallback = session_->dataTask(requestFor(server_.url("/stall")));
    inCallback->resume();
    ASSERT_TRUE(delegate_->waitForCompletion(inCallback->taskIdentifier()));
    EXPECT_TRUE(cancelledFromCallback);
    waiting->cancel();
    ASSERT_TRUE(delegate_->waitForCompletion(waiting->taskIdentifier()));
    waiting->cancel();
    settle();

    for (const auto& task : {early, waiting, inCallback}) {
        auto record = delegate_->record(task->taskIdentifier());
        EXPECT_EQ(record.completions, 1);
        ASSERT_TRUE(record.error);
        EXPECT_EQ(record.error->domain(), URLError::domain);
        EXPECT_EQ(record.error->code(), URLError::cancelled);
        EXPECT_EQ(task->state(), URLSessionTask::State::completed);
        EXPECT_EQ(record.events.back(), "complete");
    }
    EXPECT_EQ(delegate_->record(early->taskIdentifier()).events,
              std::vector<std::string>{"complete"});
    // Nothing after the cancelling callback reached the delegate but the completion.
    auto inCallbackEvents = delegate_->record(inCallback->taskIdentifier()).events;
    EXPECT_EQ(inCallbackEvents, (std::vector<std::string>{"response 200", "data", "complete"}));
}

TEST_F(URLSessionTest, CancelAfterCompletionDoesNothing) {
    OutcomeWaiter waiter;
    auto task = session_->dataTask(requestFor(server_.url("/hello")), waiter.handler());
    task->resume();
    Outcome outcome = waiter.wait();
    task->cancel();
    settle();
    EXPECT_FALSE(outcome.error);
    EXPECT_FALSE(task->error());
    EXPECT_EQ(waiter.calls(), 1);
}

TEST_F(URLSessionTest, ResumeAndCancelNeverCallBackOnTheCallersThread) {
    // A caller holding its own lock across resume() and cancel() must not deadlock or be
    // re-entered.
    // Shared with the handler, which may still be unlocking it after the test has its outcome.
    auto callerLock = std::make_shared<std::mutex>();
    auto reentered = std::make_shared<std::atomic<bool>>(false);
    const auto me = std::this_thread::get_id();
    OutcomeWaiter waiter;
    auto handler = waiter.handler();
    std::shared_ptr<URLSessionDataTask> task;
    {
        std::lock_guard lock(*callerLock);
        task = session_->dataTask(
            requestFor("ftp://127.0.0.1/x"),
            [reentered, me, callerLock, handler](auto data, auto response, auto error) {
                if (std::this_thread::get_id() == me)
                    *reentered = true;
                std::lock_guard inner(*callerLock);
                handler(data, response, error);
            });
        task->resume();
        task->cancel();
    }
    Outcome outcome = waiter.wait();
    settle();
    EXPECT_EQ(waiter.calls(), 1);
    EXPECT_FALSE(*reentered);
    EXPECT_NE(outcome.thread, me);
}

TEST_F(URLSessionTest, TransportFailuresMapToURLErrors) {
    server_.route("/silent",
                  [](const RecordedRequest&, ServerConnection& connection) { connection.stall(); });
    server_.route("/drop", [](const RecordedRequest&, ServerConnection& connection) {
        connection.write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
        connection.close();
    });
    server_.route("/nothing",
                  [](const RecordedRequest&, ServerConnection& connection) { connection.close(); });
    const std::string refused = "http://127.0.0.1:" + std::to_string(test::closedPort()) + "/x";
    struct Case {
        std::string name;
        URLRequest request;
        std::int64_t code;
    };
    URLRequest idle = requestFor(server_.url("/silent"));
    idle.setTimeoutInterval(1);
    URLRequest noURL;
    const std::vector<Case> cases = {
        {"idle time-out", idle, URLError::timedOut},
        {"refused connection", requestFor(refused), URLError::cannotConnectToHost},
        {"dropped mid-body", requestFor(server_.url("/drop")), URLError::networkConnectionLost},
        {"closed without reply", requestFor(server_.url("/nothing")),
         URLError::networkConnectionLost},
        {"no URL", noURL, URLError::badURL},
        {"unsupported scheme", requestFor("ftp://127.0.0.1/file"), URLError::unsupportedURL},
        {"host not found", requestFor("http://no-such-host.invalid/"), URLError::cannotFindHost},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome outcome = load(c.request);
        EXPECT_EQ(outcome.calls, 1);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->domain(), URLError::domain);
        EXPECT_EQ(outcome.error->code(), c.code);
        EXPECT_FALSE(outcome.data);
        const std::string expectedURL =
            c.request.url() ? c.request.url()->absoluteString() : std::string();
        const Value userInfo(outcome.error->userInfo());
        const Value* failingURL = userInfo.find(TransportError::failingURLStringKey);
        ASSERT_TRUE(failingURL && failingURL->asString());
        EXPECT_EQ(*failingURL->asString(), expectedURL);
    }
}

TEST_F(URLSessionTest, DroppedConnectionReachesTheDelegateAfterTheBytesThatArrived) {
    server_.route("/drop", [](const RecordedRequest&, ServerConnection& connection) {
        connection.write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
        connection.close();
    });
    auto record = stream(requestFor(server_.url("/drop")));
    EXPECT_EQ(record.events.front(), "response 200");
    EXPECT_EQ(record.events.back(), "complete");
    EXPECT_EQ(record.body, "partial");
    ASSERT_TRUE(record.error);
    EXPECT_EQ(record.error->code(), URLError::networkConnectionLost);
}

TEST_F(URLSessionTest, BodiesFromMemoryArriveWholeAndAgainAfterARedirect) {
    // The redirect keeps the method, so the body must go out a second time.
    server_.route("/moved", [&](const RecordedRequest&, ServerConnection& connection) {
        connection.write(LoopbackServer::reply(307, {{"Location", server_.url("/echo")}}, ""));
    });
    std::string binary("a\0b\0\0c{}", 8);
    std::string large(100 * 1024, 'x');  // beyond what goes out with the header
    large[5000] = '\0';
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""}, {"binary", binary}, {"large", large}};
    std::size_t requests = 0;
    for (const auto& [name, body] : cases) {
        SCOPED_TRACE(name);
        URLRequest request = requestFor(server_.url("/moved"));
        request.setHTTPMethod("POST");
        request.setHTTPBody(Data(body.begin(), body.end()));
        Outcome outcome = load(request);
        ASSERT_EQ(outcome.calls, 1);
        ASSERT_FALSE(outcome.error) << outcome.error->description();
        requests += 2;
        ASSERT_TRUE(server_.waitForRequests(requests));
        for (std::size_t i = requests - 2; i < requests; ++i) {
            EXPECT_EQ(server_.requests()[i].method, "POST");
            EXPECT_EQ(server_.requests()[i].body, body);
        }
        ASSERT_TRUE(outcome.data);
        EXPECT_EQ(stringFromData(*outcome.data), body);
    }
}

TEST_F(URLSessionTest, RedirectsAreFollowedAndCompressedBodiesDecoded) {
    server_.route("/old", [&](const RecordedRequest&, ServerConnection& connection) {
        connection.write(LoopbackServer::reply(302, {{"Location", server_.url("/gz")}}, "moved"));
    });
    // "hello" compressed with gzip.
    const std::string gzipped(
        "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xcb\x48\xcd\xc9\xc9\x07"
        "\x00\x86\xa6\x10\x36\x05\x00\x00\x00",
        25);
    server_.route("/gz", [&](const RecordedRequest&, ServerConnection& connection) {
        connection.write(LoopbackServer::reply(200, {{"Content-Encoding", "gzip"}}, gzipped));
    });
    auto task = session_->dataTask(requestFor(server_.url("/old")));
    task->resume();
    ASSERT_TRUE(delegate_->waitForCompletion(task->taskIdentifier()));
    auto record = delegate_->record(task->taskIdentifier());
    EXPECT_EQ(record.events.front(), "response 200");
    EXPECT_EQ(record.body, "hello");
    ASSERT_TRUE(task->currentRequest().url() && task->originalRequest().url() && task->response());
    EXPECT_EQ(task->currentRequest().url()->absoluteString(), server_.url("/gz"));
    EXPECT_EQ(task->originalRequest().url()->absoluteString(), server_.url("/old"));
    EXPECT_EQ(task->response()->expectedContentLength(), URLResponse::unknownLength);
}

TEST_F(URLSessionTest, EmptyBodiesAndErrorStatusesStillGoThroughTheResponse) {
    server_.route("/none", [](const RecordedRequest&, ServerConnection& connection) {
        connection.write("HTTP/1.1 204 No Content\r\n\r\n");
    });
    server_.route("/range", [](const RecordedRequest&, ServerConnection& connection) {
        connection.write(LoopbackServer::reply(416, {}, "bad range"));
    });
    auto empty = stream(requestFor(server_.url("/none")));
    EXPECT_EQ(empty.events, (std::vector<std::string>{"response 204", "complete"}));
    EXPECT_FALSE(empty.error);
    auto refused = stream(requestFor(server_.url("/range")));
    EXPECT_EQ(refused.events, (std::vector<std::string>{"response 416", "data", "complete"}));
    EXPECT_EQ(refused.body, "bad range");
    EXPECT_FALSE(refused.error);
}

TEST_F(URLSessionTest, UploadsSendBytesAndFileRangesWithProgress) {
    const std::string path = ::testing::TempDir() + "/upload-source.bin";
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fputs("0123456789", file);
        std::fclose(file);
    }
    URLRequest put = requestFor(server_.url("/echo"));
    put.setHTTPMethod("PUT");
    put.setValue("bytes 2-5/10", "Content-Range");

    auto fromData = session_->uploadTask(put, dataFromString("payload"));
    fromData->resume();
    ASSERT_TRUE(delegate_->waitForCompletion(fromData->taskIdentifier()));
    auto dataRecord = delegate_->record(fromData->taskIdentifier());
    EXPECT_EQ(dataRecord.body, "payload");
    EXPECT_EQ(dataRecord.lastTotalBytesSent, 7);
    EXPECT_EQ(dataRecord.events.front(), "sent");

    auto fromFile = session_->uploadTaskFromFile(put, path, 2, 4);
    fromFile->resume();
    ASSERT_TRUE(delegate_->waitForCompletion(fromFile->taskIdentifier()));
    auto fileRecord = delegate_->record(fromFile->taskIdentifier());
    EXPECT_EQ(fileRecord.body, "2345");
    EXPECT_EQ(fileRecord.lastTotalBytesSent, 4);
    EXPECT_EQ(fromFile->countOfBytesSent(), 4);
    ASSERT_TRUE(server_.waitForRequests(2));
    EXPECT_EQ(server_.requests()[1].header("Content-Range"), "bytes 2-5/10");
    EXPECT_EQ(server_.requests()[1].method, "PUT");

    auto missing = session_->uploadTaskFromFile(put, path + ".missing");
    missing->resume();
    ASSERT_TRUE(delegate_->waitForCompletion(missing->taskIdentifier()));
    const auto missingError = delegate_->record(missing->taskIdentifier()).error;
    ASSERT_TRUE(missingError);
    EXPECT_EQ(missingError->code(), TransportError::fileDoesNotExist);
    std::remove(path.c_str());
}

TEST_F(URLSessionTest, ManyConcurrentTasksEachCompleteOnce) {
    constexpr int taskCount = 24;
    std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
    for (int i = 0; i < taskCount; ++i) {
        tasks.push_back(session_->dataTask(requestFor(server_.url("/hello"))));
    }
    for (auto& task : tasks) task->resume();
    for (auto& task : tasks) ASSERT_TRUE(delegate_->waitForCompletion(task->taskIdentifier()));
    settle();
    for (auto& task : tasks) {
        auto record = delegate_->record(task->taskIdentifier());
        EXPECT_EQ(record.completions, 1);
        EXPECT_EQ(record.body, "hello");
    }
}

TEST(URLSessionLifetimeTest, InvalidationCancelsTasksAndReleasesTheDelegate) {
    LoopbackServer server;
    server.route("/stall",
                 [](const RecordedRequest&, ServerConnection& connection) { connection.stall(); });
    auto queue = std::make_shared<TestDelegateQueue>();
    auto delegate = std::make_shared<RecordingDelegate>();
    std::weak_ptr<RecordingDelegate> weakDelegate = delegate;
    auto session =
        URLSession::make(URLSessionConfiguration::defaultConfiguration(), delegate, queue);
    auto task = session->dataTask(requestFor(server.url("/stall")));
    task->resume();
    ASSERT_TRUE(server.waitForRequests(1));
    session->invalidateAndCancel();
    ASSERT_TRUE(delegate->waitForCompletion(task->taskIdentifier()));
    const auto error = delegate->record(task->taskIdentifier()).error;
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), URLError::cancelled);
    ASSERT_TRUE(delegate->waitForInvalidation());
    EXPECT_FALSE(session->delegate());

    // A task resumed after invalidation ends at once.
    OutcomeWaiter waiter;
    session->dataTask(requestFor(server.url("/stall")), waiter.handler())->resume();
    ASSERT_TRUE(waiter.wait().error);
    EXPECT_EQ(waiter.wait().error->code(), URLError::cancelled);
}

TEST(URLSessionLifetimeTest, SharedSessionServesSimpleLoads) {
    LoopbackServer server;
    server.route("/hi", [](const RecordedRequest&, ServerConnection& connection) {
        connection.write(LoopbackServer::reply(200, {}, "hi"));
    });
    OutcomeWaiter waiter;
    URLSession::shared()->dataTask(requestFor(server.url("/hi")), waiter.handler())->resume();
    Outcome outcome = waiter.wait();
    ASSERT_EQ(outcome.calls, 1);
    ASSERT_TRUE(outcome.data);
    EXPECT_EQ(stringFromData(*outcome.data), "hi");
}

TEST_F(URLSessionTest, LoadSynchronouslyGivesTheAnswerOnTheCallingThreadAndCanBeCancelled) {
    URLRequest echo = requestFor(server_.url("/echo"));
    echo.setHTTPMethod("PUT");
    echo.setHTTPBody(dataFromString("chunk"));
    std::shared_ptr<URLSessionDataTask> seen;
    URLSession::Loaded loaded =
        session_->loadSynchronously(echo, [&](const auto& task) { seen = task; });
    EXPECT_FALSE(loaded.error);
    ASSERT_TRUE(loaded.data);
    EXPECT_EQ(stringFromData(*loaded.data), "chunk");
    ASSERT_TRUE(http(loaded.response));
    EXPECT_EQ(http(loaded.response)->statusCode(), 201);
    // The task's end is fully recorded before the call returns.
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->state(), URLSessionTask::State::completed);
    EXPECT_TRUE(session_->allTasks().empty());

    server_.route("/stall", [](const RecordedRequest&, ServerConnection& connection) {
        connection.write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc");
        connection.stall();
    });
    std::thread canceller;
    loaded = session_->loadSynchronously(requestFor(server_.url("/stall")), [&](const auto& task) {
        canceller = std::thread([this, task] {
            server_.waitForRequests(2);
            task->cancel();
        });
    });
    canceller.join();
    ASSERT_TRUE(loaded.error);
    EXPECT_EQ(loaded.error->code(), URLError::cancelled);
    EXPECT_FALSE(loaded.data);
}

// Each synchronous load moves its own transfer on its own thread, so loads from several threads
// run side by side, and a thread's next load finds the connection its last one left open.
TEST_F(URLSessionTest, SynchronousLoadsKeepTheirConnectionAndRunSideBySide) {
    std::mutex mutex;
    std::vector<int> clientPorts;  // guarded by mutex
    server_.route("/port", [&](const RecordedRequest&, ServerConnection& connection) {
        sockaddr_in peer{};
        socklen_t length = sizeof(peer);
        ::getpeername(connection.socket(), reinterpret_cast<sockaddr*>(&peer), &length);
        {
            std::lock_guard lock(mutex);
            clientPorts.push_back(ntohs(peer.sin_port));
        }
        connection.write(LoopbackServer::reply(200, {}, "ok"));
    });
    for (int i = 0; i < 3; ++i) {
        URLSession::Loaded loaded = session_->loadSynchronously(requestFor(server_.url("/port")));
        EXPECT_FALSE(loaded.error);
        ASSERT_TRUE(http(loaded.response));
        EXPECT_EQ(http(loaded.response)->statusCode(), 200);
    }
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(clientPorts.size(), 3u);
        EXPECT_EQ(clientPorts[1], clientPorts[0]);
        EXPECT_EQ(clientPorts[2], clientPorts[0]);
    }

    // Neither answer comes before both requests are in: loads that took turns would never
    // both be answered.
    const std::size_t before = server_.requests().size();
    std::atomic<bool> sawBoth{true};
    server_.route("/together", [&](const RecordedRequest&, ServerConnection& connection) {
        if (!server_.waitForRequests(before + 2))
            sawBoth = false;
        connection.write(LoopbackServer::reply(200, {}, "both"));
    });
    auto other = std::async(std::launch::async, [&] {
        return session_->loadSynchronously(requestFor(server_.url("/together")));
    });
    URLSession::Loaded mine = session_->loadSynchronously(requestFor(server_.url("/together")));
    URLSession::Loaded theirs = other.get();
    EXPECT_TRUE(sawBoth);
    EXPECT_FALSE(mine.error);
    EXPECT_FALSE(theirs.error);

    // An invalidated session starts nothing, synchronous loads included.
    session_->finishTasksAndInvalidate();
    URLSession::Loaded refused = session_->loadSynchronously(requestFor(server_.url("/hello")));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code(), URLError::cancelled);
}

// An upload's ranges go out one synchronous load at a time, each from whichever worker thread
// runs the upload then: every one of them finds the connection the first one opened, however
// large its body, whether it comes from memory or straight from a file, and whatever thread it
// comes from.
TEST_F(URLSessionTest, SynchronousRangeUploadsFromThreadsInTurnShareOneConnection) {
    constexpr std::size_t rangeSize = 256 * 1024;
    constexpr int ranges = 6;
    std::mutex mutex;
    std::size_t persisted = 0;  // guarded by mutex
    server_.route("/session", [&](const RecordedRequest& request, ServerConnection& connection) {
        std::size_t through = 0;
        {
            std::lock_guard lock(mutex);
            persisted += request.body.size();
            through = persisted;
        }
        connection.write(
            LoopbackServer::reply(308, {{"Range", "bytes=0-" + std::to_string(through - 1)}}, ""));
    });
    std::string sent;
    for (int index = 0; index < ranges; ++index) {
        std::string body(rangeSize, static_cast<char>('a' + index));
        body.front() = static_cast<char>('0' + index);
        sent += body;
    }
    // The file holds a byte more on each side, which no range sends.
    const std::string path = testing::makeScratchFolder("ranges-") + "/movie";
    std::ofstream(path, std::ios::binary) << "<" << sent << ">";
    const std::size_t connectionsBefore = server_.acceptedConnections();
    for (int index = 0; index < ranges; ++index) {
        URLRequest put = requestFor(server_.url("/session"));
        put.setHTTPMethod("PUT");
        const std::size_t first = index * rangeSize;
        put.setValue(
            "bytes " + std::to_string(first) + "-" + std::to_string(first + rangeSize - 1) + "/*",
            "Content-Range");
        // Odd ranges from a thread of their own, even ones from the test's; every third one from
        // the file.
        auto loadOne = [&] {
            if (index % 3 == 2)
                return session_->loadSynchronouslyFromFile(put, path, 1 + first, rangeSize);
            put.setHTTPBody(Data(sent.begin() + first, sent.begin() + first + rangeSize));
            return session_->loadSynchronously(put);
        };
        URLSession::Loaded loaded =
            index % 2 ? std::async(std::launch::async, loadOne).get() : loadOne();
        ASSERT_FALSE(loaded.error) << "range " << index;
        ASSERT_TRUE(http(loaded.response));
        EXPECT_EQ(http(loaded.response)->statusCode(), 308);
        EXPECT_EQ(http(loaded.response)->valueForHTTPHeaderField("Range"),
                  "bytes=0-" + std::to_string(first + rangeSize - 1));
    }
    EXPECT_EQ(server_.acceptedConnections() - connectionsBefore, 1u);
    std::string received;
    for (const RecordedRequest& request : server_.requests()) {
        if (request.target != "/session")
            continue;
        EXPECT_FALSE(request.hasHeader("Connection")) << request.head;
        received += request.body;
    }
    EXPECT_TRUE(received == sent) << "the ranges arrived altered or out of order";
}

// libcurl must be left alone once the process exits: a thread in a synchronous load is let go,
// with a cancellation, before the exit handlers that follow the network's own run.
TEST(URLSessionExitTest, AnExitLetsASynchronousLoadGo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static std::atomic<bool> letGo{false};
            // Registered before the network's own handler, so it runs after it.
            std::atexit([] {
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (!letGo && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                std::_Exit(letGo ? 0 : 3);
            });
            static LoopbackServer server;
            server.route("/stall", [](const RecordedRequest&, ServerConnection& connection) {
                connection.stall();
            });
            std::thread([] {
                URLSession::Loaded loaded =
                    URLSession::shared()->loadSynchronously(requestFor(server.url("/stall")));
                letGo = loaded.error && loaded.error->code() == URLError::cancelled;
                if (!letGo)
                    std::_Exit(4);
            }).detach();
            if (!server.waitForRequests(1))
                std::_Exit(5);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace pindle::platform
