#include "beacon/endpoints.h"

#ifndef TM_COUNTER_HOST
#error "TM_COUNTER_HOST names the page counter's host"
#endif
#ifndef TM_INSTALL_REPORT_HOST
#error "TM_INSTALL_REPORT_HOST names the install-report host"
#endif

#define TM_WIDE_TEXT_(text) L##text
#define TM_WIDE_TEXT(text) TM_WIDE_TEXT_(text)

namespace tmn {

const wchar_t kCounterPixelUrl[] = L"http://" TM_WIDE_TEXT(TM_COUNTER_HOST) L"/2813985/tongji.gif";
const wchar_t kInstallReportUrl[] = L"http://" TM_WIDE_TEXT(TM_INSTALL_REPORT_HOST) L"/install";

}  // namespace tmn
