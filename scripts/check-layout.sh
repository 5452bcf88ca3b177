#!/usr/bin/env bash
# Checks that the export library's includes go one way only, and that no file
# inside export/ reaches itself again through its includes. Prints one line per
# offending include or cycle and exits 1 when there is any.
#
#   export/checks                      export/checks, platform/
#   export/core                        export/core, export/checks, platform/
#   export/sources/NAME                its own folder, export/core, export/checks, platform/, db/
#   export/destinations/NAME           its own folder, export/core, export/checks, platform/
#   export/settings                    export/settings, export/core, export/checks, platform/
#   export/history                     export/history, export/core, export/checks, platform/
#   export/office                      anything under export/ but export/sources/, platform/
#   export/*.h, export/*.cpp           anything under export/, platform/
#
# Every folder may include the C++ library, system and third-party headers: a
# header is the project's when its path, from the root or from the including
# file's folder, names a file or top folder of the repository. A folder inside
# export/ that has no rule above fails too, so a new one gets its rule.
# Usage: check-layout.sh [ROOT]   (the repository by default)
set -euo pipefail
root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
exec python3 - "$root" <<'PY'
import os
import re
import sys

root = os.path.realpath(sys.argv[1])
export_dir = os.path.join(root, "export")
if not os.path.isdir(export_dir):
    print(f"check-layout: {root} has no export/ folder")
    sys.exit(2)

SOURCE_EXT = (".h", ".hpp", ".hh", ".hxx", ".inl", ".ipp", ".c", ".cc", ".cpp", ".cxx")
INCLUDE = re.compile(r'^\s*#\s*(?:include|include_next|import)\s*([<"])([^">]+)[">]')
COMMON = ["export/core/", "export/checks/", "platform/"]


def area_of(rel):
    """(name shown in messages, allowed prefixes, refused prefixes) for a file under export/."""
    parts = rel.split("/")
    if len(parts) == 2:
        return "export/", ["export/", "platform/"], []
    top = parts[1]
    if top == "checks":
        return "export/checks", ["export/checks/", "platform/"], []
    if top == "core":
        return "export/core", COMMON, []
    if top in ("settings", "history"):
        return f"export/{top}", [f"export/{top}/"] + COMMON, []
    if top == "office":
        return "export/office", ["export/", "platform/"], ["export/sources/"]
    if top in ("sources", "destinations") and len(parts) >= 4:
        own = f"export/{top}/{parts[2]}/"
        extra = ["db/"] if top == "sources" else []
        return own.rstrip("/"), [own] + COMMON + extra, []
    return None


def project_target(including, quote, name):
    """The root-relative path of a project header, or None for a system or third-party one."""
    name = name.strip()
    candidates = []
    if quote == '"':
        candidates.append(os.path.join(os.path.dirname(including), name))
    candidates.append(os.path.join(root, name))
    for c in candidates:
        if os.path.isfile(c):
            real = os.path.realpath(c)
            if real == root or real.startswith(root + os.sep):
                return os.path.relpath(real, root).replace(os.sep, "/")
            return None  # a header outside the repository
    # Not there (yet): still the project's when it names one of its top folders.
    norm = os.path.normpath(name).replace(os.sep, "/")
    first = norm.split("/", 1)[0]
    if "/" in norm and first not in ("..", ".") and os.path.isdir(os.path.join(root, first)):
        return norm
    return None


files = []
for d, subdirs, names in os.walk(export_dir):
    subdirs.sort()
    for n in sorted(names):
        if n.endswith(SOURCE_EXT):
            files.append(os.path.join(d, n))

problems = []
graph = {}
for path in files:
    rel = os.path.relpath(path, root).replace(os.sep, "/")
    area = area_of(rel)
    if area is None:
        problems.append(f"{rel}: folder {os.path.dirname(rel)}/ has no include rule in scripts/check-layout.sh")
    graph[rel] = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            target = project_target(path, m.group(1), m.group(2))
            if target is None:
                continue
            if target.startswith("export/"):
                graph[rel].append((number, target))
            if area is None:
                continue
            shown, allowed, refused = area
            ok = any(target.startswith(p) for p in allowed) and not any(target.startswith(p) for p in refused)
            if not ok:
                may = ", ".join(p.rstrip("/") for p in allowed)
                if refused:
                    may += " (not " + ", ".join(p.rstrip("/") for p in refused) + ")"
                problems.append(f"{rel}:{number}: includes {target}: {shown} may include only {may}")

# Cycles: Tarjan's strongly connected components, then one cycle shown per component.
index, low, on_stack, stack, components = {}, {}, set(), [], []
counter = [0]


def strongconnect(v):
    # iterative, so a long include chain cannot hit the recursion limit
    work = [(v, iter(graph.get(v, [])))]
    index[v] = low[v] = counter[0]
    counter[0] += 1
    stack.append(v)
    on_stack.add(v)
    while work:
        node, edges = work[-1]
        advanced = False
        for _, w in edges:
            if w not in graph:
                continue
            if w not in index:
                index[w] = low[w] = counter[0]
                counter[0] += 1
                stack.append(w)
                on_stack.add(w)
                work.append((w, iter(graph[w])))
                advanced = True
                break
            if w in on_stack:
                low[node] = min(low[node], index[w])
        if advanced:
            continue
        work.pop()
        if work:
            low[work[-1][0]] = min(low[work[-1][0]], low[node])
        if low[node] == index[node]:
            comp = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                comp.append(w)
                if w == node:
                    break
            components.append(comp)


for v in sorted(graph):
    if v not in index:
        strongconnect(v)


def cycle_in(comp):
    members = set(comp)
    start = min(comp)
    # breadth-first from start back to start, inside the component: the shortest cycle through it
    prev = {}
    queue = [start]
    seen = set()
    while queue:
        node = queue.pop(0)
        for _, w in sorted(graph[node], key=lambda e: e[1]):
            if w not in members:
                continue
            if w == start:
                path = [node]
                while path[-1] != start:
                    path.append(prev[path[-1]])
                return [start] + list(reversed(path[:-1])) + [start] if node != start else [start, start]
            if w not in seen:
                seen.add(w)
                prev[w] = node
                queue.append(w)
    return None


for comp in sorted(components, key=min):
    self_loop = any(w == comp[0] for _, w in graph[comp[0]])
    if len(comp) > 1 or self_loop:
        cycle = cycle_in(comp)
        problems.append("include cycle: " + " -> ".join(cycle))

for p in problems:
    print(p)
sys.exit(1 if problems else 0)
PY
