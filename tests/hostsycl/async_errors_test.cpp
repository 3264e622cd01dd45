// Asynchronous errors: kept per queue, delivered once, routed to the queue's
// handler, else the context's, else the default handler that terminates.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

using namespace hostsycl_test;
using strings = std::vector<std::string>;

class AsyncErrors : public testing::TestWithParam<device_type> {
 protected:
  sycl::device dev_ = device_of(GetParam());
  error_sink sink_;
};

TEST_P(AsyncErrors, WaitKeepsThemAndEachIsDeliveredOnce) {
  sycl::queue q{dev_, sink_.handler()};
  submit_throwing(q, "first").wait();
  q.wait();
  EXPECT_EQ(sink_.calls(), 0) << "wait() must not deliver";
  q.wait_and_throw();
  q.wait_and_throw();
  q.throw_asynchronous();
  EXPECT_EQ(sink_.messages(), strings{"first"});
  EXPECT_EQ(sink_.calls(), 1);

  // Every error of several commands arrives, with its type and code intact.
  submit_throwing(q, "a");
  q.submit([&](sycl::handler& h) { h.host_task([] { throw sycl::exception(invalid, "b"); }); });
  q.single_task([] {});
  submit_throwing(q, "c");
  q.wait_and_throw();
  auto messages = sink_.messages();
  std::sort(messages.begin(), messages.end());
  EXPECT_EQ(messages, (strings{"a", "b", "c", "first"}));
  for (const auto& error : sink_.errors()) {
    try {
      std::rethrow_exception(error);
    } catch (const sycl::exception& e) {
      EXPECT_EQ(e.code(), invalid);
    } catch (const std::runtime_error&) {
    }
  }
}

TEST_P(AsyncErrors, ThrowAsynchronousDeliversWithoutWaiting) {
  sycl::queue q{dev_, sink_.handler()};
  gate g;
  submit_throwing(q, "early").wait();
  auto blocked = submit_blocked(q, g);
  q.throw_asynchronous();  // would never return if it waited for the blocked command
  EXPECT_EQ(sink_.messages(), strings{"early"});
  g.open();
  blocked.wait();
}

TEST_P(AsyncErrors, EventWaitAndThrowDeliversTheQueuesErrors) {
  sycl::queue q{dev_, sink_.handler()};
  submit_throwing(q, "member").wait_and_throw();
  EXPECT_EQ(sink_.messages(), strings{"member"});
  sycl::event::wait_and_throw({submit_throwing(q, "list")});
  EXPECT_EQ(sink_.messages(), (strings{"member", "list"}));
}

TEST_P(AsyncErrors, ContextHandlerServesQueuesWithoutTheirOwn) {
  error_sink queue_sink;
  const sycl::context ctx{dev_, sink_.handler()};
  sycl::queue plain{ctx, dev_};
  sycl::queue with_handler{ctx, dev_, queue_sink.handler()};
  submit_throwing(plain, "to context");
  plain.wait_and_throw();
  submit_throwing(with_handler, "to queue");
  with_handler.wait_and_throw();
  EXPECT_EQ(sink_.messages(), strings{"to context"});
  EXPECT_EQ(queue_sink.messages(), strings{"to queue"});
}

TEST_P(AsyncErrors, ErrorsStayWithTheQueueThatRanTheCommand) {
  error_sink other_sink;
  sycl::queue failing{dev_, sink_.handler()};
  sycl::queue other{dev_, other_sink.handler()};
  submit_throwing(failing, "mine").wait();
  other.wait_and_throw();
  other.single_task([] {}).wait_and_throw();
  EXPECT_EQ(other_sink.calls() + sink_.calls(), 0);
  failing.wait_and_throw();
  EXPECT_EQ(sink_.messages(), strings{"mine"});
}

TEST_P(AsyncErrors, DestroyingTheLastQueueCopyDeliversWhatIsLeft) {
  std::optional<sycl::queue> original{sycl::queue{dev_, sink_.handler()}};
  sycl::event failed;  // an event is not a copy of its queue
  {
    sycl::queue copy = *original;
    failed = submit_throwing(copy, "left over");
    copy.wait();
    original.reset();
    EXPECT_EQ(sink_.calls(), 0) << "a copy still holds the queue";
  }
  EXPECT_EQ(sink_.messages(), strings{"left over"});
}

INSTANTIATE_TEST_SUITE_P(AllDevices, AsyncErrors, testing::ValuesIn(root_types), type_label);

TEST(AsyncErrorHandlers, HandlerOnlyQueueConstructorUsesTheHandler) {
  error_sink sink;
  sycl::queue q{sink.handler()};  // must not bind to the selector overload
  EXPECT_TRUE(q.get_device().is_gpu());
  submit_throwing(q, "handler only");
  q.wait_and_throw();
  EXPECT_EQ(sink.messages(), strings{"handler only"});
}

TEST(AsyncErrorsDeathTest, DefaultHandlerPrintsEveryErrorAndTerminates) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        sycl::queue q;
        submit_throwing(q, "first-lost-error");
        submit_throwing(q, "second-lost-error");
        q.wait_and_throw();
      },
      "(first-lost-error.*second-lost-error|second-lost-error.*first-lost-error)");
  EXPECT_DEATH(
      {
        sycl::queue q{sycl::cpu_selector_v};
        submit_throwing(q, "undelivered-at-destruction");
        q.wait();
      },
      "undelivered-at-destruction");
}

TEST(KernelDeathTest, ExceptionEscapingAKernelEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        sycl::queue q;
        q.parallel_for(8, [](sycl::item<1>) { throw std::runtime_error("kernel threw"); });
        q.wait();
      },
      "");
}

}  // namespace
