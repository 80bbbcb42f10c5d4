#pragma once
// The program's pictures (ui/icons, compiled in as Qt resources under ":/icons/"). They live in a
// static library, so the resources are registered by hand before the first use.
namespace scoutor {

void RegisterIcons();

}  // namespace scoutor
