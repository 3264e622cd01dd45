// The front-end's argument checks, their order, skip_checks and the kernel
// each operation calls, against a kernel library that records its calls.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "detail/cpu_impl/df_frontend.hpp"
#include "fake_task.hpp"
#include "qrx_lumo_thread/service.h"
#include "qrx_lumo_thread/threader.h"
#include "recording_kernels.h"

namespace df = velora::qrx::experimental::data_fitting::detail;

namespace {

recording_last_call_t* last_call = nullptr;
recording_reset_t* reset_recording = nullptr;

// Points the service library at the recording kernels before any load.
class RecordingKernels : public ::testing::Environment {
 public:
  void SetUp() override {
    qrx_serv_set_kernel_library_path(QRX_RECORDING_KERNELS);
    void* handle = dlopen(QRX_RECORDING_KERNELS, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    last_call = reinterpret_cast<recording_last_call_t*>(dlsym(handle, "recording_last_call"));
    reset_recording = reinterpret_cast<recording_reset_t*>(dlsym(handle, "recording_reset"));
    ASSERT_NE(last_call, nullptr);
    ASSERT_NE(reset_recording, nullptr);
  }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new RecordingKernels);

std::string called() { return last_call()->kernel != nullptr ? last_call()->kernel : "(none)"; }

void expect_service_threader(const qrx_df_threader_block* block) {
  ASSERT_NE(block, nullptr);
  for (const qrx_df_threader_entries& e : block->entries) {
    EXPECT_EQ(e.threader_for, &qrx_df_serv_threader_for);
    EXPECT_EQ(e.threader_for_ordered, &qrx_df_serv_threader_for_ordered);
    EXPECT_EQ(e.threader_sections, &qrx_df_serv_threader_sections);
    EXPECT_EQ(e.threader_ordered, &qrx_df_serv_threader_ordered);
    EXPECT_EQ(e.get_num_threads_limit, &qrx_df_serv_threader_get_num_threads_limit);
  }
}

template <typename T>
std::string precision_prefix() {
  return sizeof(T) == sizeof(float) ? "s" : "d";
}

// One construction case: an edit of a valid task and call, and the status
// it gives, or the kernel it reaches (status 0 from the recorder).
struct construct_case {
  const char* name;
  std::function<void(fake_task&, std::int64_t& format, std::int64_t& method)> edit;
  std::int32_t status;
  const char* kernel;  // suffix after the precision letter
};

// Test names, so that gtest does not print the cases' bytes.
void PrintTo(const construct_case& c, std::ostream* os) { *os << c.name; }

auto set_field(std::int64_t qrx_df_task::*field, std::int64_t v) {
  return [=](auto& t, auto&, auto&) { t.record.*field = v; };
}
auto order_type(std::int64_t order, std::int64_t type, std::int64_t ic_type = 1) {
  return [=](auto& t, auto&, auto&) {
    t.record.order = order;
    t.record.type = type;
    t.record.ic_type = ic_type;
  };
}

const std::vector<construct_case> construct_cases = {
    {"valid_hermite", [](auto&, auto&, auto&) {}, 0, "DFHermiteCubicSpline1D"},
    {"format", [](auto&, auto& f, auto&) { f = 1; }, -1002, nullptr},
    {"method", [](auto&, auto&, auto& m) { m = 1; }, -1002, nullptr},
    {"method_before_coeffs", [](auto& t, auto&, auto& m) { m = 1, t.record.coeffs = nullptr; }, -1002, nullptr},
    {"coeff_array_null", [](auto& t, auto&, auto&) { t.record.coeffs = nullptr; }, -1016, nullptr},
    {"coeff_entry_null", [](auto& t, auto&, auto&) { t.coeffs[2] = nullptr; }, -1016, nullptr},
    {"ny0_checks_first_coeff", [](auto& t, auto&, auto&) { t.record.ny = 0, t.coeffs[0] = nullptr; }, -1016, nullptr},
    {"coeffs_before_functions", [](auto& t, auto&, auto&) { t.coeffs[0] = nullptr, t.record.functions = nullptr; },
     -1016, nullptr},
    {"function_array_null", [](auto& t, auto&, auto&) { t.record.functions = nullptr; }, -1008, nullptr},
    {"row_major_entry_null", [](auto& t, auto&, auto&) { t.functions[2] = nullptr; }, -1008, nullptr},
    {"hint0_entry_null", [](auto& t, auto&, auto&) { t.record.function_hint = 0, t.functions[1] = nullptr; }, -1008,
     nullptr},
    {"hint128_entry_null", [](auto& t, auto&, auto&) { t.record.function_hint = 128, t.functions[1] = nullptr; }, -1008,
     nullptr},
    {"ny0_checks_first_function", [](auto& t, auto&, auto&) { t.record.ny = 0, t.functions[0] = nullptr; }, -1008,
     nullptr},
    {"col_major_reads_first_only", [](auto& t, auto&, auto&) { t.record.function_hint = 32, t.functions[1] = nullptr; },
     0, "DFHermiteCubicSpline1D"},
    {"col_major_first_null", [](auto& t, auto&, auto&) { t.record.function_hint = 32, t.functions[0] = nullptr; },
     -1008, nullptr},
    {"function_hint", set_field(&qrx_df_task::function_hint, 64), -1009, nullptr},
    {"linear_any_type", order_type(2, 7), 0, "DFLinearSpline1D"},
    {"quadratic_type0", order_type(3, 0), 0, "DFQuadraticSpline1D"},
    {"quadratic_type1", order_type(3, 1), 0, "DFQuadraticSpline1D"},
    {"quadratic_type2", order_type(3, 2), -1011, nullptr},
    {"default_cubic", order_type(4, 0, 2), 0, "DFDefaultCubicSpline1D"},
    {"default_cubic_ic_type", order_type(4, 0, 1), -1012, nullptr},
    {"default_cubic_no_ic",
     [](auto& t, auto&, auto&) { t.record.type = 0, t.record.ic_type = 1, t.record.internal_conditions = nullptr; },
     -1013, nullptr},
    {"hermite_ic_type", order_type(4, 3, 2), -1012, nullptr},
    {"hermite_own_slopes", order_type(4, 3, 4), 0, "DFHermiteCubicSpline1D"},
    {"hermite_no_ic", [](auto& t, auto&, auto&) { t.record.internal_conditions = nullptr; }, -1013, nullptr},
    {"natural", order_type(4, 2, 0), 0, "DFNaturalCubicSpline1D"},
    {"bessel", order_type(4, 4, 0), 0, "DFBesselCubicSpline1D"},
    {"akima", order_type(4, 5, 0), 0, "DFAkimaCubicSpline1D"},
    {"hyman", order_type(4, 9, 0), 0, "DFHymanCubicSpline1D"},
    {"cubic_type1", order_type(4, 1), -1011, nullptr},
    {"cubic_type6", order_type(4, 6), -1011, nullptr},
    {"cubic_type8", order_type(4, 8), -1011, nullptr},
    {"pchip", order_type(4, 10, 0), 0, "DFPchipCubicSpline1D"},
    {"makima", order_type(4, 11, 0), 0, "DFMakimaCubicSpline1D"},
    {"steffen", order_type(4, 12, 0), 0, "DFSteffenCubicSpline1D"},
    {"cubic_type13", order_type(4, 13), -1011, nullptr},
    {"order1", order_type(1, 0), -1010, nullptr},
    {"order5", order_type(5, 0), -1010, nullptr},
    {"skip_checks_passes_bad_arguments",
     [](auto& t, auto& f, auto&) {
       t.record.skip_checks = 1, f = 7, t.record.coeffs = nullptr, t.record.functions = nullptr;
     },
     0, "DFHermiteCubicSpline1D"},
    {"skip_checks_keeps_kernel_choice", [](auto& t, auto&, auto&) { t.record.skip_checks = 1, t.record.order = 5; },
     -1010, nullptr},
};

class ConstructChecks : public ::testing::TestWithParam<construct_case> {};

template <typename T>
void run_construct_case(const construct_case& c) {
  fake_task t(3);
  std::int64_t format = 0;
  std::int64_t method = 0;
  c.edit(t, format, method);
  reset_recording(0);
  EXPECT_EQ(df::df_construct_1d<T>(t.task(), format, method), c.status);
  if (c.kernel == nullptr) {
    EXPECT_EQ(last_call()->calls, 0) << called();
    return;
  }
  EXPECT_EQ(called(), precision_prefix<T>() + c.kernel);
  EXPECT_EQ(last_call()->args[0], reinterpret_cast<std::intptr_t>(t.task()));
  EXPECT_EQ(last_call()->args[1], format);
  EXPECT_EQ(last_call()->args[2], method);
  expect_service_threader(last_call()->threader);
}

TEST_P(ConstructChecks, StatusOrKernel) {
  run_construct_case<float>(GetParam());
  run_construct_case<double>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, ConstructChecks, ::testing::ValuesIn(construct_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// The arguments of one interpolation call.
struct interpolate_call {
  std::int64_t type = 1;
  std::int64_t method = 1;
  std::int64_t nsites = 4;
  bool sites = true;
  std::int64_t site_hint = 1;
  std::int64_t der_count = 1;
  bool indicators = true;
  bool results = true;
  bool cells = false;
};

struct interpolate_case {
  const char* name;
  std::function<void(fake_task&, interpolate_call&)> edit;
  std::int32_t status;
  const char* kernel;           // suffix after the precision letter
  std::int64_t type_handed_on;  // for the interpolation kernel
};

const std::vector<interpolate_case> interpolate_cases = {
    {"valid", [](auto&, auto&) {}, 0, "DFInterpolate1D", 1},
    {"type_none", [](auto&, auto& c) { c.type = 8; }, -1003, nullptr, 0},
    {"type_before_method", [](auto&, auto& c) { c.type = 0, c.method = 2; }, -1003, nullptr, 0},
    {"method", [](auto&, auto& c) { c.method = 2; }, -1002, nullptr, 0},
    {"method_before_sites", [](auto&, auto& c) { c.method = 0, c.sites = false; }, -1002, nullptr, 0},
    {"sites", [](auto&, auto& c) { c.sites = false; }, -1022, nullptr, 0},
    {"sites_before_nsites", [](auto&, auto& c) { c.sites = false, c.nsites = 0; }, -1022, nullptr, 0},
    {"nsites", [](auto&, auto& c) { c.nsites = 0; }, -1021, nullptr, 0},
    {"nsites_before_site_hint", [](auto&, auto& c) { c.nsites = -1, c.site_hint = 2; }, -1021, nullptr, 0},
    {"site_hint", [](auto&, auto& c) { c.site_hint = 2; }, -1023, nullptr, 0},
    {"site_hint_0", [](auto&, auto& c) { c.site_hint = 0; }, 0, "DFInterpolate1D", 1},
    {"site_hint_4", [](auto&, auto& c) { c.site_hint = 4; }, 0, "DFInterpolate1D", 1},
    {"site_hint_64", [](auto&, auto& c) { c.site_hint = 64; }, 0, "DFInterpolate1D", 1},
    {"coeff_array_null", [](auto& t, auto&) { t.record.coeffs = nullptr; }, -1016, nullptr, 0},
    {"coeff_entry_null", [](auto& t, auto&) { t.coeffs[2] = nullptr; }, -1016, nullptr, 0},
    {"ny0_checks_no_coeff_entry", [](auto& t, auto&) { t.record.ny = 0, t.coeffs[0] = nullptr; }, 0, "DFInterpolate1D",
     1},
    {"type7_needs_no_coeffs", [](auto& t, auto&) { t.record.type = 7, t.record.coeffs = nullptr; }, 0,
     "DFInterpolate1D", 1},
    {"coeffs_before_results", [](auto& t, auto& c) { t.record.coeffs = nullptr, c.results = false; }, -1016, nullptr,
     0},
    {"results", [](auto&, auto& c) { c.results = false; }, -1027, nullptr, 0},
    {"results_before_derivatives", [](auto&, auto& c) { c.results = false, c.der_count = -1; }, -1027, nullptr, 0},
    {"orders_without_count", [](auto&, auto& c) { c.der_count = 0; }, -1024, nullptr, 0},
    {"orders_with_negative_count", [](auto&, auto& c) { c.der_count = -2; }, -1024, nullptr, 0},
    {"negative_count_no_orders", [](auto&, auto& c) { c.der_count = -1, c.indicators = false; }, -1025, nullptr, 0},
    {"count_without_orders", [](auto&, auto& c) { c.indicators = false; }, -1025, nullptr, 0},
    {"count0_no_orders_passes", [](auto&, auto& c) { c.der_count = 0, c.indicators = false; }, 0, "DFInterpolate1D", 1},
    {"derivatives_before_cells", [](auto&, auto& c) { c.type = 3, c.indicators = false; }, -1025, nullptr, 0},
    {"values_and_cells_without_cells", [](auto&, auto& c) { c.type = 3; }, -1029, nullptr, 0},
    {"values_and_cells", [](auto&, auto& c) { c.type = 3, c.cells = true; }, 0, "DFInterpolate1D", 3},
    {"from_cells_drops_other_bits", [](auto&, auto& c) { c.type = 5; }, 0, "DFInterpolate1D", 4},
    {"from_cells_drops_cell_bit", [](auto&, auto& c) { c.type = 7, c.cells = true; }, 0, "DFInterpolate1D", 4},
    {"search_only", [](auto&, auto& c) { c.type = 2, c.cells = true; }, 0, "DFSearch1D", 0},
    {"search_only_without_cells", [](auto&, auto& c) { c.type = 2; }, -1029, nullptr, 0},
    {"search_only_needs_no_results", [](auto&, auto& c) { c.type = 2, c.cells = true, c.results = false; }, 0,
     "DFSearch1D", 0},
    {"skip_checks_passes_method",
     [](auto& t, auto& c) { t.record.skip_checks = 1, c.method = 7, c.sites = false, c.nsites = 0; }, 0,
     "DFInterpolate1D", 1},
    {"skip_checks_keeps_results", [](auto& t, auto& c) { t.record.skip_checks = 1, c.results = false; }, -1027, nullptr,
     0},
    {"skip_checks_keeps_coeffs", [](auto& t, auto&) { t.record.skip_checks = 1, t.coeffs[1] = nullptr; }, -1016,
     nullptr, 0},
    {"skip_checks_keeps_derivatives", [](auto& t, auto& c) { t.record.skip_checks = 1, c.indicators = false; }, -1025,
     nullptr, 0},
    {"skip_checks_passes_cells", [](auto& t, auto& c) { t.record.skip_checks = 1, c.type = 3; }, 0, "DFInterpolate1D",
     3},
    {"skip_checks_search_without_cells", [](auto& t, auto& c) { t.record.skip_checks = 1, c.type = 2; }, 0,
     "DFSearch1D", 0},
    {"skip_checks_type_none", [](auto& t, auto& c) { t.record.skip_checks = 1, c.type = 8; }, -1003, nullptr, 0},
};

void PrintTo(const interpolate_case& c, std::ostream* os) { *os << c.name; }

class InterpolateChecks : public ::testing::TestWithParam<interpolate_case> {};

template <typename T>
void run_interpolate_case(const interpolate_case& ic) {
  fake_task t(3);
  interpolate_call c;
  ic.edit(t, c);
  std::vector<T> sites(4, T(0.5));
  std::vector<T> results(64);
  std::vector<std::int64_t> cells(4);
  std::int64_t indicators[4] = {1, 0, 0, 0};
  reset_recording(0);
  const std::int32_t status =
      df::df_interpolate_1d<T>(t.task(), c.type, c.method, c.nsites, c.sites ? sites.data() : nullptr, c.site_hint,
                               c.der_count, c.indicators ? indicators : nullptr, 0,
                               c.results ? results.data() : nullptr, 16, c.cells ? cells.data() : nullptr);
  EXPECT_EQ(status, ic.status);
  if (ic.kernel == nullptr) {
    EXPECT_EQ(last_call()->calls, 0) << called();
    return;
  }
  const recorded_call& r = *last_call();
  EXPECT_EQ(called(), precision_prefix<T>() + ic.kernel);
  expect_service_threader(r.threader);
  if (std::string(ic.kernel) == "DFSearch1D") {
    EXPECT_EQ(r.args[1], c.method);
    EXPECT_EQ(r.args[2], c.nsites);
    EXPECT_EQ(r.args[4], c.site_hint);
    EXPECT_EQ(r.args[6], reinterpret_cast<std::intptr_t>(c.cells ? cells.data() : nullptr));
    EXPECT_EQ(r.args[7], 0);
    EXPECT_EQ(r.args[8], 0);
    return;
  }
  EXPECT_EQ(r.args[1], ic.type_handed_on);
  EXPECT_EQ(r.args[2], c.method);
  EXPECT_EQ(r.args[6], c.der_count);
  EXPECT_EQ(r.args[10], 16);
  for (const void* p : r.reserved) EXPECT_EQ(p, nullptr);
}

TEST_P(InterpolateChecks, StatusOrKernel) {
  run_interpolate_case<float>(GetParam());
  run_interpolate_case<double>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, InterpolateChecks, ::testing::ValuesIn(interpolate_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FrontEnd, NullTaskIsRefusedBeforeAnyKernel) {
  reset_recording(0);
  double site = 0;
  double result = 0;
  std::int64_t indicator = 1;
  EXPECT_EQ(df::df_construct_1d<double>(nullptr, 0, 0), -1000);
  EXPECT_EQ(df::df_interpolate_1d<float>(nullptr, 1, 1, 1, reinterpret_cast<float*>(&site), 1, 1, &indicator, 0,
                                         reinterpret_cast<float*>(&result), 16, nullptr),
            -1000);
  EXPECT_EQ(last_call()->calls, 0);
}

TEST(FrontEnd, PassThroughOperationsCallTheirKernelAndReturnItsStatus) {
  fake_task t(2);
  df::task_record* handle = t.task();
  double values[4] = {};
  reset_recording(-4321);
  EXPECT_EQ(df::df_new_task_1d<double>(&handle, 5, values, 4, 2, values, 32), -4321);
  EXPECT_EQ(called(), "dNewTask1D");
  const std::vector<std::int64_t> new_task_args(last_call()->args + 1, last_call()->args + 8);
  EXPECT_EQ(new_task_args, (std::vector<std::int64_t>{5, reinterpret_cast<std::intptr_t>(values), 4, 2,
                                                      reinterpret_cast<std::intptr_t>(values), 32, 1}));
  EXPECT_EQ(df::df_edit_val(t.task(), 16, 9), -4321);
  EXPECT_EQ(called(), "iEditVal");
  EXPECT_EQ(last_call()->args[1], 16);
  EXPECT_EQ(last_call()->args[2], 9);
  float fvalues[2] = {};
  EXPECT_EQ(df::df_edit_pp_spline_1d<float>(t.task(), 4, 3, 12, fvalues, 1, fvalues, fvalues, 16), -4321);
  EXPECT_EQ(called(), "sEditPPSpline1D");
  EXPECT_EQ(last_call()->nargs, 9);
  EXPECT_EQ(df::df_delete_task(&handle), -4321);
  EXPECT_EQ(called(), "DeleteTask");
  // Kernel statuses of construction and interpolation come back unchanged too.
  EXPECT_EQ(df::df_construct_1d<double>(t.task(), 0, 0), -4321);
  std::int64_t indicator = 1;
  EXPECT_EQ(df::df_interpolate_1d<double>(t.task(), 1, 1, 1, values, 1, 1, &indicator, 0, values, 16, nullptr), -4321);
}

}  // namespace
