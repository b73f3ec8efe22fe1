# Completes marl command lines with the completion script and compares the offers, sorted,
# with those expected (without bash-completion loaded: files come from compgen -f).
#   bash marl_completion_test.bash COMPLETION_SCRIPT
script=$1
bash -n "$script" || exit 1
source "$script" || exit 1
dir=$(mktemp -d) && trap 'rm -rf "$dir"' EXIT && cd "$dir" && touch a.marl b.txt || exit 1

# Each case: the command line up to the cursor (the last word is completed, a trailing space
# starts an empty one), then '|' and the offers.
cases=(
    'marl s|set'
    'marl get -|--help --raw --where -h -r -w'
    'marl set -|--help --in-place --parents -h -i -p'
    'marl print -o |a.marl b.txt'
    'marl print --output=|a.marl b.txt'
    'marl print --output=b.txt a|a.marl'
    'marl check --max-messages |'
    'marl check a.marl b|b.txt'
    'marl get a.marl |'
    'marl get - |'
    # A VALUE may begin with '-': no options offered there, and it counts as an operand.
    'marl set a.marl p -|'
    'marl set a.marl p -5 -|--help --in-place --parents -h -i -p'
    'marl add a.marl / n -|'
    'marl r|rename rm'
    'marl ls -|--help --where -h -w'
    'marl rename a.marl p -|'
    'marl j|json'
    'marl json --c|--compact'
    'marl from-json -o |a.marl b.txt'
)
failed=0
for case in "${cases[@]}"; do
    line=${case%%|*}
    expected=${case#*|}
    # Words as bash splits them for completion: '=' stands as a word of its own.
    read -ra COMP_WORDS <<<"${line//=/ = }"
    [[ $line == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _marl
    offered=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ')
    if [[ $offered != "$expected" ]]; then
        echo "'$line': offered '$offered', expected '$expected'"
        failed=1
    fi
done
exit $failed
