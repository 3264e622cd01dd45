// Platform, devices, selection, contexts and reference semantics.

#include <vector>

#include "test_support.hpp"

namespace {

using namespace hostsycl_test;

TEST(RootDevices, OnePlatformWithGpuCpuAcceleratorInOrder) {
  const auto platforms = sycl::platform::get_platforms();
  const auto devices = sycl::device::get_devices();
  ASSERT_EQ(platforms.size(), 1u);
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(platforms[0].get_devices(), devices);
  const char* names[] = {"hostsycl GPU device", "hostsycl CPU device", "hostsycl accelerator device"};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& d = devices[i];
    EXPECT_EQ(d.get_info<sycl::info::device::device_type>(), root_types[i]);
    EXPECT_EQ(d.get_info<sycl::info::device::name>(), names[i]);
    EXPECT_EQ(std::vector<bool>({d.is_gpu(), d.is_cpu(), d.is_accelerator()}),
              std::vector<bool>({i == 0, i == 1, i == 2}));
    EXPECT_EQ(d.get_platform(), platforms[0]);
    EXPECT_TRUE(d.has(sycl::aspect::fp64) && d.has(sycl::aspect::usm_shared_allocations));
    // A type filter finds exactly this device, on the device and on the platform.
    EXPECT_EQ(sycl::device::get_devices(root_types[i]), std::vector<sycl::device>{d});
    EXPECT_EQ(platforms[0].get_devices(root_types[i]), std::vector<sycl::device>{d});
  }
  EXPECT_TRUE(sycl::device::get_devices(device_type::custom).empty());
}

TEST(Selection, StandardAndCustomSelectors) {
  EXPECT_TRUE(sycl::device{}.is_gpu());
  EXPECT_TRUE(sycl::device{sycl::default_selector_v}.is_gpu());
  EXPECT_TRUE(sycl::device{sycl::gpu_selector_v}.is_gpu());
  EXPECT_TRUE(sycl::device{sycl::cpu_selector_v}.is_cpu());
  EXPECT_TRUE(sycl::queue{sycl::accelerator_selector_v}.get_device().is_accelerator());
  EXPECT_TRUE(sycl::queue{}.get_device().is_gpu());

  // The best score wins; zero is acceptable, only a negative best selects nothing.
  auto scored = [](const sycl::device& d) { return d.is_accelerator() ? 7 : d.is_cpu() ? 5 : 1; };
  EXPECT_TRUE(sycl::queue{scored}.get_device().is_accelerator());
  EXPECT_TRUE(sycl::device{[](const sycl::device& d) { return d.is_cpu() ? 0 : -1; }}.is_cpu());

  auto reject_all = [](const sycl::device&) { return -1; };
  const auto runtime = sycl::make_error_code(sycl::errc::runtime);
  EXPECT_EQ(thrown_code([&] { sycl::device{reject_all}; }), runtime);
  EXPECT_EQ(thrown_code([&] { sycl::platform{reject_all}; }), runtime);
  EXPECT_EQ(thrown_code([&] { sycl::queue{reject_all, sycl::async_handler{}}; }), runtime);
  EXPECT_STREQ(sycl::sycl_category().name(), "sycl");
}

TEST(ReferenceSemantics, EqualOnlyToCopiesWithMatchingHashes) {
  const sycl::queue q, other;
  const sycl::context c, other_c;
  const sycl::event e, other_e;  // each default-constructed event is its own object
  const sycl::queue q_copy = q;
  const sycl::context c_copy = c;
  const sycl::event e_copy = e;
  EXPECT_TRUE(q == q_copy && q != other);
  EXPECT_TRUE(c == c_copy && c != other_c);
  EXPECT_TRUE(e == e_copy && e != other_e);
  EXPECT_EQ(std::hash<sycl::queue>{}(q), std::hash<sycl::queue>{}(q_copy));
  EXPECT_EQ(std::hash<sycl::context>{}(c), std::hash<sycl::context>{}(c_copy));
  EXPECT_EQ(std::hash<sycl::event>{}(e), std::hash<sycl::event>{}(e_copy));
  // Root devices are the same objects however they are reached.
  EXPECT_EQ(q.get_device(), sycl::device::get_devices()[0]);
  EXPECT_EQ(std::hash<sycl::device>{}(q.get_device()), std::hash<sycl::device>{}(sycl::device{}));
}

TEST(Contexts, DefaultContextDeviceListsAndRefusals) {
  const auto devices = sycl::device::get_devices();
  const sycl::queue gpu_queue{devices[0]}, cpu_queue{devices[1], sycl::property::queue::in_order{}};
  EXPECT_EQ(gpu_queue.get_context(), cpu_queue.get_context());
  EXPECT_EQ(gpu_queue.get_context().get_devices(), devices);
  EXPECT_NE(sycl::context{}, gpu_queue.get_context());
  EXPECT_TRUE(cpu_queue.is_in_order());
  EXPECT_FALSE(gpu_queue.is_in_order());

  EXPECT_EQ(sycl::context{sycl::platform{}}.get_devices(), devices);
  EXPECT_EQ(thrown_code([] { sycl::context{std::vector<sycl::device>{}}; }), invalid);
  const sycl::context cpu_only{devices[1]};
  EXPECT_EQ(cpu_only.get_devices(), std::vector<sycl::device>{devices[1]});
  EXPECT_EQ(thrown_code([&] { sycl::queue{cpu_only, devices[0]}; }), invalid);
  EXPECT_EQ(thrown_code([&] { sycl::queue{cpu_only, devices[2], sycl::async_handler{}}; }), invalid);
  EXPECT_EQ(sycl::queue(cpu_only, devices[1]).get_context(), cpu_only);
}

}  // namespace
