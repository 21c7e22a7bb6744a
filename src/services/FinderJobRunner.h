#pragma once

// The real work of the file-manager items: the current-folder naming run and AI OCR, through the
// engine the stored AI settings select (the offline engine when nothing is configured).

#include "services/FinderJobController.h"

#include <memory>

std::unique_ptr<FinderJobRunner> makeApplicationRunner();
