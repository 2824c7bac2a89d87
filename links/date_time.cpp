// TDateTime: the date-time values of tasks, schedules and reports, and their task-file text form.
#include "links/date_time.h"

namespace pellix {

TDateTime Now() { return 0; }
TDateTime EncodeDate(int, int, int) { return 0; }
TDateTime EncodeTime(int, int, int, int) { return 0; }
TDateTime EncodeDateTime(int, int, int, int, int, int, int) { return 0; }
TDateTimeParts DecodeDateTime(TDateTime) { return {}; }
int DayOfWeek(TDateTime) { return 1; }
TDateTime DateOf(TDateTime) { return 0; }
TDateTime TimeOf(TDateTime) { return 0; }
TDateTime FromTimeT(std::time_t) { return 0; }
std::time_t ToTimeT(TDateTime) { return 0; }
std::string FormatTaskDateTime(TDateTime) { return {}; }
TDateTime ParseTaskDateTime(std::string_view) { return 0; }

} // namespace pellix
