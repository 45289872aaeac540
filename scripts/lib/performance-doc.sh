# Sourced by scripts/bench.sh and scripts/soak.sh: docs/performance.md is made of sections, each
# written by one command between "<!-- name -->" and "<!-- /name -->"; a run replaces its own
# section and keeps the others as they are.

performance_sections=(measurements soak fuzz)

# The part of a document between the two markers of a section, markers excluded.
performance_section_of() {  # performance_section_of <doc> <name>
    [ -f "$1" ] || return 0
    awk -v begin="<!-- $2 -->" -v end="<!-- /$2 -->" \
        '$0 == end {inside = 0} inside {print} $0 == begin {inside = 1}' "$1"
}

# Writes <doc> anew: its header, then every section, <name>'s taken from <content file>.
performance_write_section() {  # performance_write_section <doc> <name> <content file>
    local doc=$1 name=$2 content=$3 out section
    out=$(mktemp)
    {
        echo "# Performance"
        echo
        echo "Written by \`scripts/bench.sh\` (the measurements), \`scripts/soak.sh --record\` (the"
        echo "soak) and \`scripts/bench.sh fuzz\` (the fuzzing runs); each run replaces its own"
        echo "section and keeps the others. Every program runs under \`scripts/without-clock-right\`,"
        echo "and the programs measured link a clock stand-in, so no figure here ever moved the"
        echo "machine's clock."
        for section in "${performance_sections[@]}"; do
            echo
            echo "<!-- $section -->"
            if [ "$section" = "$name" ]; then
                cat "$content"
            else
                performance_section_of "$doc" "$section"
            fi
            echo "<!-- /$section -->"
        done
    } >"$out"
    mkdir -p "$(dirname "$doc")"
    mv "$out" "$doc"
}
