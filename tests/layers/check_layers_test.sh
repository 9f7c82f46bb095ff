#!/usr/bin/env bash
# The layer check against a small tree made here: it passes the tree as it
# is, fails each wrong include added to it with a line that names the file,
# the line and the include, and does the same with a copy of the project's
# own sources.
# Usage: check_layers_test.sh SOURCE_ROOT
set -uo pipefail

[ $# -eq 1 ] || { echo "usage: check_layers_test.sh SOURCE_ROOT" >&2; exit 2; }
source_root=$(cd "$1" && pwd) || exit 2
checker=$source_root/scripts/check_layers.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
bad() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A tree with every kind of include the rules allow.
fixture=$work/fixture
make_file() {
    mkdir -p "$fixture/$(dirname "$1")"
    printf '%b' "$2" >"$fixture/$1"
}
make_file include/vnsmb1c.h '#include <stdint.h>\n'
make_file src/util/u.h '#include <string>\n#include "vnsmb1c.h"\n'
make_file src/util/u.cpp '#include "u.h"\n#include "util/u.h"\n'
make_file src/crypto/c.h '#include "util/u.h"\n'
make_file src/ntlm/n.h '#include "crypto/c.h"\n#include "util/u.h"\n'
make_file src/net/t.h '#include "util/u.h"\n#include "crypto/c.h"\n'
make_file src/sess/s.h '#include "net/t.h"\n#include "ntlm/n.h"\n'
make_file src/fake/f.h '#include "net/t.h"\n#include "ntlm/n.h"\n'
make_file src/api/a.h '#include "sess/s.h"\n#include "fake/f.h"\n#include "../util/u.h"\n'
make_file src/adapters/d.cpp '#include "api/a.h"\n#include <rapidjson/document.h>\n'
make_file tools/cli/cli.h '#include "vnsmb1c.h"\n#include <CLI/CLI.hpp>\n'
make_file tools/cli/serve/p.cpp '#include "cli.h"\n#include "../cli.h"\n#include "p.h"\n'
make_file tools/cli/serve/p.h '#include <string>\n'
make_file tests/support/env.h '#include <cstdlib>\n'
make_file tests/tools/fixture.h '#include "vnsmb1c.h"\n'
make_file tests/tools/t_test.cpp '#include "tools/fixture.h"\n#include "support/env.h"\n#include "p.h"\n#include "cli.h"\n'
make_file tests/api/a_test.cpp '#include "api/a.h"\n'
make_file fuzz/z.cpp '#include "sess/s.h"\n#include "api/a.h"\n'
make_file fuzz/z.h '#include <cstdint>\n'
make_file bench/b.cpp '#include "fake/f.h"\n'

if ! out=$(bash "$checker" "$fixture" 2>&1); then
    bad "the fixture tree as made: $out"
fi

# Each wrong include, added to a fresh copy of the tree as its line 3.
cases=(
    'src/util/u.cpp|#include "sess/s.h"|src/util/u.cpp:3: #include "sess/s.h": util may not use sess'
    'src/crypto/c.h|#include "ntlm/n.h"|src/crypto/c.h:3: #include "ntlm/n.h": crypto may not use ntlm'
    'src/net/t.h|#include "fake/f.h"|src/net/t.h:3: #include "fake/f.h": net may not use fake'
    'src/net/t.h|#include "ntlm/n.h"|src/net/t.h:3: #include "ntlm/n.h": net may not use ntlm'
    'src/sess/s.h|#include "fake/f.h"|src/sess/s.h:3: #include "fake/f.h": sess may not use fake'
    'src/fake/f.h|#include "sess/s.h"|src/fake/f.h:3: #include "sess/s.h": fake may not use sess'
    'src/sess/s.h|#include "api/a.h"|src/sess/s.h:3: #include "api/a.h": sess may not use api'
    'src/api/a.h|#include "adapters/d.cpp"|src/api/a.h:3: #include "adapters/d.cpp": api may not use adapters'
    'src/crypto/c.h|#include "../api/a.h"|src/crypto/c.h:3: #include "../api/a.h": crypto may not use api'
    'src/util/u.h|#include <api/a.h>|src/util/u.h:3: #include <api/a.h>: util may not use api'
    'src/sess/s.h|  #  include "fuzz/z.h"|src/sess/s.h:3: #include "fuzz/z.h": the library may not use fuzz/z.h'
    'src/api/a.h|#include "tools/cli/cli.h"|src/api/a.h:3: #include "tools/cli/cli.h": the library may not use tools/cli/cli.h'
    'include/vnsmb1c.h|#include "util/u.h"|include/vnsmb1c.h:3: #include "util/u.h": the public header may not use src/util/u.h'
    'tools/cli/cli.h|#include "api/a.h"|tools/cli/cli.h:3: #include "api/a.h": the tools use the public header only, not src/api/a.h'
    'tools/cli/serve/p.cpp|#include <util/u.h>|tools/cli/serve/p.cpp:3: #include <util/u.h>: the tools use the public header only, not src/util/u.h'
    'tests/tools/t_test.cpp|#include "sess/s.h"|tests/tools/t_test.cpp:3: #include "sess/s.h": the tools'"'"' tests use the public header only, not src/sess/s.h'
    'tests/tools/t_test.cpp|#include "api/a_test.cpp"|tests/tools/t_test.cpp:3: #include "api/a_test.cpp": the tools'"'"' tests use the public header only, not tests/api/a_test.cpp'
    'src/extra/e.h|#include "util/u.h"|src/extra/e.h:3: #include "util/u.h": src/extra is no known layer'
)
n=0
for c in "${cases[@]}"; do
    IFS='|' read -r file line want <<<"$c"
    n=$((n + 1))
    tree=$work/case$n
    cp -r "$fixture" "$tree"
    mkdir -p "$(dirname "$tree/$file")"
    touch "$tree/$file"
    # Two lines of their own first, so that the line number shows.
    { printf '// one\n// two\n%s\n' "$line"; cat "$fixture/$file" 2>/dev/null; } >"$tree/$file.new"
    mv "$tree/$file.new" "$tree/$file"
    out=$(bash "$checker" "$tree" 2>&1)
    rc=$?
    [ "$rc" -eq 1 ] || bad "$file + $line: exit $rc, not 1"
    grep -qF "$want" <<<"$out" || bad "$file + $line: no line \"$want\" in: $out"
    grep -qxF "check_layers: 1 include(s) against the layer order" <<<"$out" || bad "$file + $line: not one failure: $out"
    rm -rf "$tree"
done

# The project's own sources pass, and a wrong include added to a copy of
# them is found.
copy=$work/project
mkdir -p "$copy/tests"
cp -r "$source_root/src" "$source_root/include" "$source_root/tools" "$copy/"
cp -r "$source_root/tests/tools" "$source_root/tests/support" "$copy/tests/"
if ! out=$(bash "$checker" "$copy" 2>&1); then
    bad "the project's sources: $out"
fi
printf '#include "api/session_ops.h"\n' >>"$copy/src/util/text.cpp"
line=$(wc -l <"$copy/src/util/text.cpp")
out=$(bash "$checker" "$copy" 2>&1)
rc=$?
[ "$rc" -eq 1 ] || bad "src/util/text.cpp + api/session_ops.h: exit $rc, not 1"
grep -qxF "src/util/text.cpp:$line: #include \"api/session_ops.h\": util may not use api (it uses util)" <<<"$out" ||
    bad "src/util/text.cpp + api/session_ops.h: not named in: $out"

# A folder that is no source tree is refused, not passed.
bash "$checker" "$work/nothing-here" >/dev/null 2>&1
[ $? -eq 2 ] || bad "a missing folder does not exit 2"

if [ "$failures" -gt 0 ]; then
    echo "$failures of the layer check's cases failed"
    exit 1
fi
echo "the layer check passed the good trees and caught ${#cases[@]} wrong includes and the project copy's"
