#pragma once

/// \file
/// Everything a user of the data-fitting library needs, in one include.

#include "data_fitting/boundary_conditions.hpp"
#include "data_fitting/exceptions.hpp"
#include "data_fitting/extrapolation.hpp"
#include "data_fitting/hints.hpp"
#include "data_fitting/integrate.hpp"
#include "data_fitting/interpolate.hpp"
#include "data_fitting/solve.hpp"
#include "data_fitting/spline.hpp"
#include "data_fitting/spline_types.hpp"
