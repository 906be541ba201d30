#pragma once

// Shared set-up of the fuzz targets: a quiet log and a model initialised from
// the fixture interface that the tests use.

#include <memory>
#include <string>

#include "app_model/app.h"

namespace fuzz {

void silence_library();

// A fresh model loaded from the fixture styles and themes, rendered once.
std::unique_ptr<Ombrix::OApp> fixture_model();

}  // namespace fuzz
