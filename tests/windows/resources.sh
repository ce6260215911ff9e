# Sourced by the resource checks: reading a Windows binary's resources with
# the mingw objdump and strings. Each check calls `fail` (its own) with what
# is wrong.

# type:id of every resource, from the directory's first two levels
# (RT_MENU 4, RT_DIALOG 5, RT_STRING 6, RT_GROUP_ICON 14, RT_VERSION 16,
# RT_MANIFEST 24), one per line.
resource_ids() {
    local objdump=$1 binary=$2 in=0 type=0 line
    while IFS= read -r line; do
        if [[ $line == *"Resource Directory section"* ]]; then
            in=1
        elif ((in)) && [[ $line =~ ^[0-9a-f]+\ {3}Entry:\ ID:\ 0x([0-9a-f]+) ]]; then
            type=$((16#${BASH_REMATCH[1]}))
        elif ((in)) && [[ $line =~ ^[0-9a-f]+\ {5}Entry:\ ID:\ 0x([0-9a-f]+) ]]; then
            echo "$type:$((16#${BASH_REMATCH[1]}))"
        fi
    done < <("$objdump" -p "$binary")
}

# check_version_strings STRINGS BINARY KEY=VALUE...: the version block's
# strings (UTF-16) each followed by its value; an empty value leaves the next
# key right behind its own.
check_version_strings() {
    local strings=$1 binary=$2 pair key value next i
    shift 2
    local -A want=()
    for pair in "$@"; do want[${pair%%=*}]=${pair#*=}; done
    local -a texts
    mapfile -t texts < <("$strings" -el "$binary")
    for key in "${!want[@]}"; do
        value=missing
        for i in "${!texts[@]}"; do
            if [[ ${texts[i]} == "$key" ]]; then
                next=${texts[i + 1]:-}
                if [[ -n ${want[$next]+set} || $next == VarFileInfo ]]; then value=""; else value=$next; fi
                break
            fi
        done
        [[ $value == "${want[$key]}" ]] || fail "version string $key is \"$value\", not \"${want[$key]}\""
    done
}

# check_fixed_versions OBJDUMP BINARY FILE PRODUCT: VS_FIXEDFILEINFO (its
# signature FEEF04BD, the structure version, then the file and product
# versions as a.b.c.d, each two little-endian 32-bit words).
check_fixed_versions() {
    local objdump=$1 binary=$2 file=$3 product=$4 hex fixed
    hex=$("$objdump" -s -j .rsrc "$binary" | awk '/^ [0-9a-f]+ / { for (i = 2; i <= 5; i++) if ($i ~ /^[0-9a-f]+$/ && length($i) <= 8) printf "%s", $i }')
    fixed=${hex#*bd04effe}
    if [[ $fixed == "$hex" ]]; then
        fail "no fixed version record"
        return
    fi
    local name version a b c d words
    for name in file product; do
        version=${!name}
        IFS=. read -r a b c d <<<"$version"
        words=$(printf '%04x%04x%04x%04x' "$b" "$a" "$d" "$c" | sed 's/\(..\)\(..\)/\2\1/g')
        local at=8
        [[ $name == product ]] && at=24
        [[ ${fixed:at:16} == "$words" ]] || fail "$name version is not $version (${fixed:at:16})"
    done
}
