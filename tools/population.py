"""Population model of the dataset generator: a pool of ancestral haplotypes that every
simulated haplotype copies as a mosaic, local genealogies of the ancestors, and the
drawing of one SNP's alleles from them. Deterministic for a given random.Random.
"""

import bisect


class Population:
    """Ancestral pool, its local genealogies, and the ancestor that every haplotype
    copies at the current SNP."""

    def __init__(self, a, rng, n_haps, first_pos, last_pos):
        w = [0.3 + rng.random() for _ in range(a.ancestors)]
        total = sum(w)
        self.weights = [x / total for x in w]
        self.cum = []
        acc = 0.0
        for x in self.weights:
            acc += x
            self.cum.append(acc)
        self.rng = rng
        self.first_pos = first_pos
        self.tree_bp = a.tree_bp
        self.trees = [self.genealogy() for _ in range((last_pos - first_pos) // a.tree_bp + 1)]
        self.current = bytearray(self.choose() for _ in range(n_haps))
        self.events = self.switches(a.ld_scale, n_haps, first_pos, last_pos)
        self.next_event = 0

    def choose(self):
        """An ancestor drawn by weight."""
        k = bisect.bisect_left(self.cum, self.rng.random() * self.cum[-1])
        return min(k, len(self.cum) - 1)

    def genealogy(self):
        """The clades of a random tree over the ancestors, leaves first, as (minor share,
        carrier table, carrier mask) with the smaller side of each split as carriers,
        and the running sum of their random branch lengths."""
        n = len(self.weights)
        nodes = [1 << k for k in range(n)]
        clades = list(nodes)
        while len(nodes) > 2:
            i, j = sorted(self.rng.sample(range(len(nodes)), 2))
            merged = nodes[i] | nodes[j]
            del nodes[j], nodes[i]
            nodes.append(merged)
            clades.append(merged)
        out = []
        for mask in clades:
            share_ = sum(self.weights[k] for k in range(n) if mask >> k & 1)
            if share_ > 0.5:
                mask, share_ = ((1 << n) - 1) & ~mask, 1.0 - share_
            table = bytearray(256)
            for k in range(n):
                table[k] = mask >> k & 1
            out.append((share_, bytes(table), mask))
        lengths, acc = [], 0.0
        for _ in out:
            x = self.rng.expovariate(1.0)
            acc += x * x  # a few long branches carry most SNPs: haplotype blocks
            lengths.append(acc)
        return out, lengths

    def switches(self, scale, n_haps, first_pos, last_pos):
        """All ancestor switches (position, haplotype, new ancestor), in position order."""
        events = []
        for h in range(n_haps):
            x = first_pos + self.rng.expovariate(1.0 / scale)
            while x <= last_pos:
                events.append((x, h, self.choose()))
                x += self.rng.expovariate(1.0 / scale)
        events.sort()
        return events

    def column(self, pos):
        """The ancestor of every haplotype at position pos (positions must ascend)."""
        ev = self.events
        k = self.next_event
        while k < len(ev) and ev[k][0] <= pos:
            self.current[ev[k][1]] = ev[k][2]
            k += 1
        self.next_event = k
        return bytes(self.current)

    def tree_at(self, pos):
        """The clades of the genealogy in force at position pos."""
        return self.trees[(pos - self.first_pos) // self.tree_bp]


def clade_alleles(rng, pop, col, pos, maf):
    """Minor-allele indicators (0/1 bytes) of every haplotype at a SNP: a rare variant
    (maf below 5 %) sits on that share of the copies of one ancestor; any other SNP is a
    clade of the local tree, picked by branch length, and takes its frequency from it."""
    clades, lengths = pop.tree_at(pos)
    n = len(pop.weights)
    leaves = [c for c in clades[:n] if c[0] > maf]
    if maf < 0.05 and leaves:
        w, table, mask = leaves[rng.randrange(len(leaves))]
        return with_partial(rng, col, bytearray(256), mask.bit_length() - 1, maf / w)
    k = bisect.bisect_left(lengths, rng.random() * lengths[-1])
    return bytearray(col.translate(clades[min(k, len(clades) - 1)][1]))


def exact_alleles(rng, pop, col, p):
    """Allele indicators at a SNP whose allele-1 frequency is p in expectation: random
    ancestors carry it while they fit, one more carries it on a share of its copies."""
    order = list(range(len(pop.weights)))
    rng.shuffle(order)
    table = bytearray(256)
    cum = 0.0
    partial = -1
    for k in order:
        if cum + pop.weights[k] <= p:
            table[k] = 1
            cum += pop.weights[k]
        elif partial < 0:
            partial = k
    q = (p - cum) / pop.weights[partial] if partial >= 0 else 0.0
    return with_partial(rng, col, table, partial, q)


def with_partial(rng, col, table, partial, q):
    """Alleles from an ancestor table, plus allele 1 with chance q on copies of partial."""
    alleles = bytearray(col.translate(table))
    if partial >= 0 and q > 0.0:
        i = col.find(partial)
        while i >= 0:
            if rng.random() < q:
                alleles[i] = 1
            i = col.find(partial, i + 1)
    return alleles


def mutate(rng, alleles, rate):
    """Flips each allele independently with chance rate."""
    for i in scattered(rng, len(alleles), rate):
        alleles[i] ^= 1


def scattered(rng, n, rate):
    """Indices below n, each chosen independently with chance rate (ascending)."""
    if rate <= 0.0:
        return []
    if rate >= 1.0:
        return list(range(n))
    out = []
    i = int(rng.expovariate(rate))
    while i < n:
        out.append(i)
        i += 1 + int(rng.expovariate(rate))
    return out
