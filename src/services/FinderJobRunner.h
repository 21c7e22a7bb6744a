#pragma once

// The real work of the file-manager items: the current-folder naming run and AI OCR, through the
// engine the stored AI settings select (the offline engine when nothing is configured).

#include "services/FinderJobController.h"

#include "ai/AIConfig.h"

#include <functional>
#include <memory>

/// `settings` is asked on the interface thread before each item; by default the stored settings
/// (AIConfig::shared()).
std::unique_ptr<FinderJobRunner> makeApplicationRunner(std::function<ai::AISettings()> settings = {});
