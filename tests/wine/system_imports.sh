#!/bin/sh
# Every program imports only DLLs that Windows itself has: nothing of the compiler's run-time
# (libstdc++, libgcc, winpthread) that would have to ship beside it.
# Usage: system_imports.sh OBJDUMP PROGRAM...
set -u
objdump="$1"
shift
status=0
for program in "$@"; do
    dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
    [ -n "$dlls" ] || { echo "$program: no imports read"; status=1; }
    echo "$(basename "$program"):" $dlls
    for dll in $dlls; do
        case "$dll" in
        kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | comctl32.dll) ;;
        comdlg32.dll | ole32.dll | oleaut32.dll | wininet.dll | ws2_32.dll | shlwapi.dll) ;;
        uxtheme.dll | version.dll | bcrypt.dll | winmm.dll | imm32.dll | msvcrt.dll) ;;
        setupapi.dll) ;;
        ucrtbase.dll | api-ms-win-*.dll) ;;
        *)
            echo "  $dll is no system DLL: it would have to ship beside the program"
            status=1
            ;;
        esac
    done
done
exit "$status"
