"""Each figure of one benchmark table beside the same figure of another: the rows matched by their
words, the ratio of the first number in each (after / before)."""
import sys


def figures(path):
    rows = {}
    for line in open(path, encoding="utf-8"):
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        numbers = [i for i, cell in enumerate(cells) if cell.replace(".", "", 1).isdigit()]
        if line.startswith("|") and numbers:
            words = " | ".join(c for i, c in enumerate(cells) if i not in numbers)
            rows.setdefault(words, float(cells[numbers[0]]))
    return rows


before, after = figures(sys.argv[1]), figures(sys.argv[2])
print("| row | before | after | after / before |")
print("|---|---:|---:|---:|")
for words, value in after.items():
    if words in before and before[words] > 0:
        print(f"| {words} | {before[words]:g} | {value:g} | {value / before[words]:.2f} |")
