// Root devices, selection, contexts and equality; USM through every entry point, pointer classification
// and what free refuses.

#include <cstdint>
#include <limits>

#include "test_support.hpp"

namespace {

using namespace hostsycl_test;
using sycl::usm::alloc;

TEST(Devices, GpuCpuAcceleratorInOrderAndSelectorsTakeTheBestNonNegativeScore) {
  const auto devices = sycl::device::get_devices();
  ASSERT_EQ(devices.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(devices[i].get_info<sycl::info::device::device_type>(), root_types[i]);
    EXPECT_EQ(std::vector<bool>({devices[i].is_gpu(), devices[i].is_cpu(), devices[i].is_accelerator()}),
              std::vector<bool>({i == 0, i == 1, i == 2}));
    EXPECT_EQ(sycl::device::get_devices(root_types[i]), std::vector<sycl::device>{devices[i]});
  }
  EXPECT_TRUE(sycl::device{}.is_gpu() && sycl::queue{}.get_device().is_gpu());
  EXPECT_TRUE(sycl::device{sycl::gpu_selector_v}.is_gpu() && sycl::device{sycl::cpu_selector_v}.is_cpu());
  EXPECT_TRUE(sycl::queue{sycl::accelerator_selector_v}.get_device().is_accelerator());
  auto scored = [](const sycl::device& d) { return d.is_accelerator() ? 7 : d.is_cpu() ? 5 : 1; };
  EXPECT_TRUE(sycl::queue{scored}.get_device().is_accelerator());
  EXPECT_TRUE(sycl::device{[](const sycl::device& d) { return d.is_cpu() ? 0 : -1; }}.is_cpu());
  auto reject_all = [](const sycl::device&) { return -1; };
  const auto runtime = sycl::make_error_code(sycl::errc::runtime);
  EXPECT_EQ(thrown_code([&] { sycl::device{reject_all}; }), runtime);
  EXPECT_EQ(thrown_code([&] { sycl::platform{reject_all}; }), runtime);
  EXPECT_EQ(thrown_code([&] { sycl::queue{reject_all, sycl::async_handler{}}; }), runtime);
}

TEST(Devices, ContextsHoldTheirDevicesAndOnlyCopiesCompareEqual) {
  const auto devices = sycl::device::get_devices();
  const sycl::queue gpu{devices[0]}, cpu{devices[1]}, gpu_copy = gpu;
  EXPECT_TRUE(gpu.get_context() == cpu.get_context() && gpu.get_context().get_devices() == devices);
  EXPECT_TRUE(gpu == gpu_copy && gpu != sycl::queue{devices[0]} && sycl::event{} != sycl::event{});
  EXPECT_EQ(std::hash<sycl::queue>{}(gpu), std::hash<sycl::queue>{}(gpu_copy));
  EXPECT_EQ(thrown_code([] { sycl::context{std::vector<sycl::device>{}}; }), invalid);
  const sycl::context cpu_only{devices[1]};
  EXPECT_EQ(thrown_code([&] { sycl::queue{cpu_only, devices[0], sycl::async_handler{}}; }), invalid);
  EXPECT_EQ(sycl::queue(cpu_only, devices[1]).get_context(), cpu_only);
}

// Every USM entry point by kind and form; each allocates n bytes, or n elements of u32 in the typed forms.
using u32 = std::uint32_t;
using entry = void* (*)(std::size_t n, std::size_t alignment, const sycl::queue& q);
#define ENTRY(...) \
  [](std::size_t n, [[maybe_unused]] std::size_t a, const sycl::queue& q) -> void* { return __VA_ARGS__; }
#define FORMS(kind, ...)                                                                                  \
  {ENTRY(sycl::malloc_##kind(n, q)), ENTRY(sycl::malloc_##kind(n, __VA_ARGS__)),                          \
   ENTRY(sycl::malloc_##kind<u32>(n, q)), ENTRY(sycl::aligned_alloc_##kind(a, n, q)),                     \
   ENTRY(sycl::aligned_alloc_##kind<u32>(a, n, q))}
const char* const form_names[] = {"bytes", "bytes_context", "typed", "aligned", "aligned_typed"};
const entry entries[3][5] = {FORMS(host, q.get_context()), FORMS(device, q.get_device(), q.get_context()),
                             FORMS(shared, q.get_device(), q.get_context())};

class Allocation : public testing::TestWithParam<int> {};  // kind * 5 + form

TEST_P(Allocation, ClassifiedWhileLiveAndNullWhenImpossible) {
  const auto kind = alloc(GetParam() / 5);
  const int form = GetParam() % 5;
  const entry allocate = entries[int(kind)][form];
  constexpr std::size_t bytes = 4096, huge = std::numeric_limits<std::size_t>::max();
  sycl::queue q;
  const sycl::context ctx = q.get_context();
  auto* p = static_cast<char*>(allocate(form == 2 || form == 4 ? bytes / sizeof(u32) : bytes, 64, q));
  ASSERT_NE(p, nullptr);
  for (const char* inside : {p, p + 1, p + bytes - 1}) EXPECT_EQ(sycl::get_pointer_type(inside, ctx), kind);
  EXPECT_EQ(sycl::get_pointer_type(p + bytes, ctx), alloc::unknown);
  sycl::free(p, ctx);
  EXPECT_EQ(sycl::get_pointer_type(p, ctx), alloc::unknown);
  EXPECT_EQ(thrown_code([&] { sycl::free(p, ctx); }), invalid) << "double free";
  // As u32 elements, huge / 4 + 2 is 4 bytes once wrapped around.
  for (std::size_t n : {std::size_t{0}, huge, huge / 4 + 2}) EXPECT_EQ(allocate(n, 64, q), nullptr) << n;
  if (form < 3) return;
  for (std::size_t alignment = 1; alignment <= 8192; alignment *= 2) {
    void* a = allocate(24, alignment, q);
    EXPECT_TRUE(a != nullptr && reinterpret_cast<std::uintptr_t>(a) % alignment == 0) << alignment;
    sycl::free(a, q);
  }
  for (std::size_t alignment : {3, 12, 24, 100, 4095, 4097}) EXPECT_EQ(allocate(64, alignment, q), nullptr);
}

INSTANTIATE_TEST_SUITE_P(EveryEntryPoint, Allocation, testing::Range(0, 15), [](const testing::TestParamInfo<int>& i) {
  return std::string(i.param < 5 ? "host_" : i.param < 10 ? "device_" : "shared_") + form_names[i.param % 5];
});

TEST(Free, RefusesWhatTheContextDoesNotOwnAndNeverWaits) {
  sycl::queue q;
  const sycl::context ctx = q.get_context(), foreign{q.get_device()};
  EXPECT_NO_THROW({ sycl::free(nullptr, ctx); sycl::free(nullptr, q); });
  // Interior pointers and foreign contexts are refused, the block survives; any queue of its context frees it at once.
  auto* block = static_cast<char*>(sycl::malloc_device(128, q));
  EXPECT_EQ(thrown_code([&] { sycl::free(block + 8, ctx); }), invalid);
  EXPECT_EQ(thrown_code([&] { sycl::free(block, foreign); }), invalid);
  EXPECT_EQ(thrown_code([&] { sycl::free(block, sycl::queue{foreign, q.get_device()}); }), invalid);
  EXPECT_EQ(sycl::get_pointer_type(block, foreign), alloc::unknown);
  EXPECT_EQ(sycl::get_pointer_type(block, ctx), alloc::device);
  gate g;
  sycl::queue other{sycl::cpu_selector_v};
  const sycl::event blocked = g.block(other);
  for (int i = 0; i < 250 && status_of(blocked) != status::running; ++i) pause_briefly();
  sycl::free(block, other);
  EXPECT_EQ(sycl::get_pointer_type(block, ctx), alloc::unknown);
  EXPECT_EQ(status_of(blocked), status::running);
}

}  // namespace
