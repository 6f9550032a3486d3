// omr72-probe's findings: for each of the nine USB names and nine drive names, what stands
// there and why it is or is not the recorder. Only device descriptors and INQUIRY are read.
#pragma once

#include <string>
#include <vector>

#include "platform/device_survey.h"

namespace omr72::probe {

struct Finding {
  std::string name;     // "ezusb-3", "PHYSICALDRIVE1"
  std::string node;     // the OS's node; empty when there is none or it is unknown
  std::string verdict;  // what stands there and why it is or is not the recorder
  bool recorder = false;
};

std::vector<Finding> ProbeUsbNames(DeviceSurvey& survey);
std::vector<Finding> ProbeDrives(DeviceSurvey& survey);

// The whole report as the tool prints it.
std::string Report(DeviceSurvey& survey, const std::vector<Finding>& usb,
                   const std::vector<Finding>& drives);

}  // namespace omr72::probe
