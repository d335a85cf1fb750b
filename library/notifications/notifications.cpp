#include "notifications/notifications.h"

namespace brisquel {

namespace {
automation::Register<Notifications> reg("Notifications", "Brisquel.Notifications", [](auto& c) {
  c.Property("LastErrorMessage", &Notifications::GetLastErrorMessage, &Notifications::SetLastErrorMessage);
});
}  // namespace

}  // namespace brisquel
