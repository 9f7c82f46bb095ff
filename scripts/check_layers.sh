#!/usr/bin/env bash
# Checks that every #include runs down the layers, from the include lines
# themselves:
#   util           uses util
#   crypto         uses util, crypto
#   ntlm           uses util, crypto, ntlm
#   net            uses util, crypto, net
#   sess           uses the four above and sess
#   fake           uses the four above and fake (never sess)
#   api            uses all of the above and api
#   adapters       uses all of the above, api and adapters
# Every layer may use the public header. The public header uses nothing of
# the project; the tools and their tests use the public header and their own
# files only. fuzz/ and bench/ may use anything, but nothing in src/ uses
# them (nor tests/ or tools/).
#
# Usage: check_layers.sh [SOURCE_ROOT]   (the project's root by default)
# Prints one line per wrong include, naming the file, the line and the
# include, and exits 1; exits 0 with a summary when all is well.
set -uo pipefail

root=${1:-"$(cd "$(dirname "$0")/.." && pwd)"}
cd "$root" || { echo "check_layers: no such folder: $root" >&2; exit 2; }
[ -d src ] || { echo "check_layers: $root has no src/ folder" >&2; exit 2; }

declare -A allowed=(
    [util]="util"
    [crypto]="util crypto"
    [ntlm]="util crypto ntlm"
    [net]="util crypto net"
    [sess]="util crypto ntlm net sess"
    [fake]="util crypto ntlm net fake"
    [api]="util crypto ntlm net sess fake api"
    [adapters]="util crypto ntlm net sess fake api adapters"
)

# Sets `normalized` to the path with "." and ".." parts taken out.
normalize() {
    local IFS=/ part
    local -a out=()
    for part in $1; do
        case $part in
        '' | .) ;;
        ..) [ ${#out[@]} -gt 0 ] && unset 'out[${#out[@]}-1]' ;;
        *) out+=("$part") ;;
        esac
    done
    normalized="${out[*]}"
}

# Sets `target` to where an include of `file` lands: the first folder of the
# search list that holds it (for a quoted include the including file's own
# folder first), or "" for a header from outside the project.
resolve() {
    local file=$1 kind=$2 name=$3 dir
    shift 3
    target=
    if [ "$kind" = '"' ]; then
        dir=${file%/*}
        [ -f "$dir/$name" ] && { normalize "$dir/$name"; target=$normalized; return; }
    fi
    for dir in "$@"; do
        [ -f "$dir/$name" ] && { normalize "$dir/$name"; target=$normalized; return; }
    done
}

failures=0
checked=0
fail() {
    echo "$1:$2: #include $3: $4"
    failures=$((failures + 1))
}

# Include folders by region: the project's own, then src/ and the root, so
# that an include reaching into the library or into fuzz/ and bench/ is seen
# even where the build would not find it.
check_include() {
    local file=$1 line_no=$2 kind=$3 name=$4 region unit tunit shown
    case $file in
    src/*) region=src ;;
    include/*) region=include ;;
    tools/*) region=tools ;;
    tests/tools/*) region=tests_tools ;;
    *) return ;;
    esac
    checked=$((checked + 1))
    case $region in
    src | include) resolve "$file" "$kind" "$name" src include . ;;
    tools) resolve "$file" "$kind" "$name" tools/cli tools/cli/serve include src . ;;
    tests_tools) resolve "$file" "$kind" "$name" tests tools/cli tools/cli/serve include src . ;;
    esac
    [ -n "$target" ] || return  # a system or third-party header
    if [ "$kind" = '"' ]; then shown="\"$name\""; else shown="<$name>"; fi
    case $region in
    src)
        unit=${file#src/}
        unit=${unit%%/*}
        case $target in
        include/*) ;;
        src/*)
            tunit=${target#src/}
            tunit=${tunit%%/*}
            if [ -z "${allowed[$unit]+set}" ]; then
                fail "$file" "$line_no" "$shown" "src/$unit is no known layer"
            elif [[ " ${allowed[$unit]} " != *" $tunit "* ]]; then
                fail "$file" "$line_no" "$shown" "$unit may not use $tunit (it uses ${allowed[$unit]// /, })"
            fi
            ;;
        *) fail "$file" "$line_no" "$shown" "the library may not use $target" ;;
        esac
        ;;
    include)
        case $target in
        include/*) ;;
        *) fail "$file" "$line_no" "$shown" "the public header may not use $target" ;;
        esac
        ;;
    tools)
        case $target in
        include/vnsmb1c.h | tools/*) ;;
        *) fail "$file" "$line_no" "$shown" "the tools use the public header only, not $target" ;;
        esac
        ;;
    tests_tools)
        case $target in
        include/vnsmb1c.h | tools/* | tests/tools/* | tests/support/*) ;;
        *) fail "$file" "$line_no" "$shown" "the tools' tests use the public header only, not $target" ;;
        esac
        ;;
    esac
}

include_re='^([^:]+):([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*(["<])([^">]+)[">]'
while IFS= read -r hit; do
    [[ $hit =~ $include_re ]] || continue
    check_include "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" "${BASH_REMATCH[3]}" "${BASH_REMATCH[4]}"
done < <(find src include tools tests/tools -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cc' \
    -o -name '*.cpp' \) -print0 2>/dev/null | LC_ALL=C sort -z |
    xargs -0 -r grep -nH '^[[:space:]]*#[[:space:]]*include')

if [ "$failures" -gt 0 ]; then
    echo "check_layers: $failures include(s) against the layer order"
    exit 1
fi
echo "check_layers: $checked includes, all in layer order"
