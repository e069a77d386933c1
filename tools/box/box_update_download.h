#pragma once
// Settings of the box's update download (box_update.cpp): taken from the
// command line once, before any service thread starts, and only read after.

struct BoxOptions;

void ConfigureUpdateDownload(const BoxOptions& options);
