// Asynchronous errors: kept per queue until delivered, each once, to the queue's handler, else the
// context's, else the default handler that reports them and terminates.

#include "test_support.hpp"

namespace {

using namespace hostsycl_test;

class AsyncErrors : public testing::TestWithParam<device_type> {
 protected:
  sycl::device dev_ = device_of(GetParam());
  error_sink sink_;
};

TEST_P(AsyncErrors, KeptUntilDeliveredThenDeliveredOnceWithTheirTypes) {
  sycl::queue q{dev_, sink_.handler()};
  submit_throwing(q, "first").wait();
  q.wait();
  EXPECT_TRUE(sink_.messages().empty()) << "wait() must not deliver";
  gate g;
  g.block(q);
  q.throw_asynchronous();  // would never return if it waited for the blocked command
  EXPECT_EQ(sink_.messages(), strings{"first"});
  g.open();
  q.wait_and_throw();
  q.throw_asynchronous();
  submit_throwing(q, "a");
  q.submit([&](sycl::handler& h) { h.host_task([] { throw sycl::exception(invalid, "b"); }); });
  submit_throwing(q, "c");
  q.wait_and_throw();
  EXPECT_EQ(sorted(sink_.messages()), (strings{"a", "b (invalid)", "c", "first"}));
}

TEST_P(AsyncErrors, EventWaitAndThrowDeliversTheErrorsOfItsQueue) {
  sycl::queue q{dev_, sink_.handler()};
  submit_throwing(q, "earlier").wait();
  submit_throwing(q, "member").wait_and_throw();
  EXPECT_EQ(sink_.messages(), (strings{"earlier", "member"}));
  sycl::event::wait_and_throw({sycl::queue{dev_}.single_task([] {}), submit_throwing(q, "listed")});
  EXPECT_EQ(sink_.messages(), (strings{"earlier", "member", "listed"}));
}

// The queue's handler, else the context's; a queue never delivers another queue's errors.
TEST_P(AsyncErrors, ContextHandlerServesQueuesWithoutTheirOwn) {
  error_sink queue_sink;
  const sycl::context ctx{dev_, sink_.handler()};
  sycl::queue plain{ctx, dev_}, with_handler{ctx, dev_, queue_sink.handler()}, handler_only{queue_sink.handler()};
  submit_throwing(plain, "to context").wait();
  with_handler.wait_and_throw();
  EXPECT_TRUE(sink_.messages().empty());
  submit_throwing(with_handler, "to queue");
  submit_throwing(handler_only, "to handler-only queue");
  for (sycl::queue* q : {&plain, &with_handler, &handler_only}) q->wait_and_throw();
  EXPECT_EQ(sink_.messages(), strings{"to context"});
  EXPECT_EQ(queue_sink.messages(), (strings{"to queue", "to handler-only queue"}));
}

TEST_P(AsyncErrors, DestroyingTheLastQueueCopyDeliversWhatIsLeft) {
  sycl::event failed;  // an event is not a copy of its queue
  {
    sycl::queue original{dev_, sink_.handler()};
    failed = submit_throwing(original, "left over");
    sycl::queue{original}.wait();  // a copy comes and goes while the original holds the queue
    EXPECT_TRUE(sink_.messages().empty());
  }
  EXPECT_EQ(sink_.messages(), strings{"left over"});
}

INSTANTIATE_TEST_SUITE_P(AllDevices, AsyncErrors, testing::ValuesIn(root_types), type_label);

TEST(AsyncErrorsDeathTest, UnhandledErrorsAndThrowingKernelsEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto lose_two = [] {
    sycl::queue q;
    submit_throwing(q, "first-lost");
    submit_throwing(q, "second-lost");
    q.wait_and_throw();
  };
  EXPECT_DEATH(lose_two(), "(first-lost.*second-lost|second-lost.*first-lost)");
  EXPECT_DEATH({ sycl::queue q; submit_throwing(q, "left-at-destruction").wait(); }, "left-at-destruction");
  EXPECT_DEATH(sycl::queue{}.single_task([] { throw std::runtime_error("kernel"); }).wait(), "");
}

}  // namespace
