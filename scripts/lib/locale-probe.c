/* Prints the user's locale name and the ANSI code page a Windows program is given, such as "zh-CN 936":
   scripts/lib/locale.sh asks Wine through it rather than through its registry, which it may write later. */
#include <stdio.h>
#include <windows.h>

int main(void) {
  wchar_t name[LOCALE_NAME_MAX_LENGTH];
  if (!GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH)) return 1;
  printf("%ls %u\n", name, GetACP());
  return 0;
}
