// The category list format as the builders use it: the format, its checks and its walkers
// are dbread's (dbread/list_file.h); the list parser and the list update take these names
// as dbbuild's own.
#pragma once

#include "dbread/list_file.h"

namespace dbbuild {

using dbread::kBuildListKinds;
using dbread::kMaxListFileSize;
using dbread::kMaxListItemKey;
using dbread::kMinListFileSize;
using dbread::ListAlias;
using dbread::ListAliasAt;
using dbread::ListLayout;
using dbread::ListPathItem;
using dbread::ListRead;
using dbread::ListRecord;
using dbread::ListSpan;
using dbread::NextPathItem;
using dbread::PathKeyForLevel;
using dbread::ReadListAlias;
using dbread::ReadListLayout;
using dbread::ReadListRecord;
using dbread::SectionBytes;

}  // namespace dbbuild
