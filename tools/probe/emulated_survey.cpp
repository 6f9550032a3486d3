#include "tools/probe/emulated_survey.h"

namespace omr72::probe {
namespace {

emu::RecorderConfig Scene(emu::StartRoute route) {
  emu::RecorderConfig config;
  config.route = route;
  config.foreignDisks = {0};
  config.foreignUsb = {1};
  return config;
}

}  // namespace

EmulatedSurvey::EmulatedSurvey(emu::StartRoute route) : host_(Scene(route), emu::KnownImages{}) {}

}  // namespace omr72::probe
