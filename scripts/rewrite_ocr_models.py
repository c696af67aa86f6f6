#!/usr/bin/python3
"""Rewrites the text detection and recognition graphs into forms that
OpenCV 4.6's dnn module loads and runs fast. The weights are the same
numbers, only regrouped (a normalisation's scale folded into the next layer,
a 5x5 kernel cut into four 3x3 ones).

usage: rewrite_ocr_models.py <detection.onnx> <recognition.onnx> <out-dir>
Writes <out-dir>/text_detection.onnx and <out-dir>/text_recognition.onnx.
"""
import os
import sys

import numpy as np
import onnx
from onnx import helper, numpy_helper


class Graph:
    """The nodes of a model with every constant held as an array by name."""

    def __init__(self, model):
        self.model = model
        self.const = {}
        self.nodes = []
        for init in model.graph.initializer:
            self.const[init.name] = numpy_helper.to_array(init)
        for node in model.graph.node:
            if node.op_type == 'Constant':
                self.const[node.output[0]] = numpy_helper.to_array(node.attribute[0].t)
            else:
                self.nodes.append(node)
        self.counter = 0

    def fresh(self, stem):
        self.counter += 1
        return 'vorlant_%s_%d' % (stem, self.counter)

    def constant(self, array, stem='const'):
        name = self.fresh(stem)
        self.const[name] = np.ascontiguousarray(array)
        return name

    def producer(self, name):
        for node in self.nodes:
            if name in node.output:
                return node
        return None

    def consumers(self, name):
        return [n for n in self.nodes if name in n.input]

    def live_consumers(self, name):
        """Consumers other than the shape arithmetic this rewrite removes."""
        return [n for n in self.consumers(name) if n.op_type != 'Shape']

    def replace(self, old, new):
        """Puts the `new` nodes where `old` stood (order matters to readers)."""
        at = self.nodes.index(old[0]) if old else len(self.nodes)
        for node in old:
            self.nodes.remove(node)
        self.nodes[at:at] = new

    def rename_input(self, old, new):
        for node in self.nodes:
            for i, name in enumerate(node.input):
                if name == old:
                    node.input[i] = new

    def finish(self):
        """Drops every node the outputs no longer need and stores the constants."""
        needed = {o.name for o in self.model.graph.output}
        kept = []
        for node in reversed(self.nodes):
            if any(o in needed for o in node.output):
                kept.append(node)
                needed.update(i for i in node.input if i)
        kept.reverse()
        graph = self.model.graph
        del graph.node[:]
        graph.node.extend(kept)
        del graph.initializer[:]
        graph.initializer.extend(numpy_helper.from_array(self.const[name], name)
                                 for name in sorted(needed) if name in self.const)
        del graph.value_info[:]
        return self.model


def attr(node, name, default=None):
    for a in node.attribute:
        if a.name == name:
            return helper.get_attribute_value(a)
    return default


def scalar(graph, name):
    return float(np.asarray(graph.const[name]).reshape(-1)[0])


def clip_bounds_as_attributes(graph):
    """Clip with its bounds as inputs (newer opsets) becomes Clip with attributes."""
    for node in list(graph.nodes):
        if node.op_type != 'Clip' or len(node.input) == 1:
            continue
        bounds = {}
        for key, name in zip(('min', 'max'), node.input[1:]):
            if name:
                bounds[key] = scalar(graph, name)
        graph.replace([node], [helper.make_node('Clip', [node.input[0]], list(node.output), name=node.name, **bounds)])


def depthwise_5x5_as_3x3(graph):
    """A 5x5 depthwise convolution is the sum of four 3x3 ones over the
    kernel's quarters, each padded unevenly so that it reads its quarter's
    window; 4.6 has a fast path only for 3x3."""
    for node in list(graph.nodes):
        if node.op_type != 'Conv' or attr(node, 'kernel_shape') != [5, 5]:
            continue
        weight = graph.const[node.input[1]]
        if attr(node, 'group', 1) != weight.shape[0] or weight.shape[1] != 1 or attr(node, 'pads') != [2, 2, 2, 2]:
            continue
        strides = attr(node, 'strides', [1, 1])
        parts = []
        # Rows -2..0 and 1..2 of the kernel (and the same for columns): the
        # second quarter's window is rows 0..2 with its first row zero.
        for top in (True, False):
            for left in (True, False):
                quarter = np.zeros((weight.shape[0], 1, 3, 3), weight.dtype)
                rows = slice(0, 3) if top else slice(3, 5)
                cols = slice(0, 3) if left else slice(3, 5)
                block = weight[:, :, rows, cols]
                quarter[:, :, 3 - block.shape[2]:, 3 - block.shape[3]:] = block
                # The window starts two rows above the output for the top
                # quarter, at the output row for the bottom one.
                pads = [2 if top else 0, 2 if left else 0, 0 if top else 2, 0 if left else 2]
                inputs = [node.input[0], graph.constant(quarter, 'dw3')]
                if not parts and len(node.input) > 2:
                    inputs.append(node.input[2])
                out = graph.fresh('dw3out')
                parts.append(helper.make_node('Conv', inputs, [out], kernel_shape=[3, 3], pads=pads, strides=strides,
                                              group=weight.shape[0], dilations=[1, 1]))
        total = parts[0].output[0]
        sums = []
        for i, part in enumerate(parts[1:]):
            out = node.output[0] if i == len(parts) - 2 else graph.fresh('dwsum')
            sums.append(helper.make_node('Add', [total, part.output[0]], [out]))
            total = out
        graph.replace([node], parts + sums)


def layer_norms(graph):
    """Finds x -> ReduceMean -> Sub -> Pow -> ReduceMean -> Add(eps) -> Sqrt -> Div -> Mul(g) -> Add(b)."""
    found = []
    for mean in graph.nodes:
        if mean.op_type != 'ReduceMean':
            continue
        x = mean.input[0]
        subs = [n for n in graph.consumers(mean.output[0]) if n.op_type == 'Sub' and n.input[0] == x]
        if len(subs) != 1:
            continue
        chain = [mean, subs[0]]
        expected = ['Pow', 'ReduceMean', 'Add', 'Sqrt', 'Div', 'Mul', 'Add']
        current = subs[0]
        for op in expected:
            following = [n for n in graph.consumers(current.output[0]) if n.op_type == op]
            if op == 'Div':
                following = [n for n in graph.consumers(subs[0].output[0]) if n.op_type == 'Div']
            if len(following) != 1:
                break
            current = following[0]
            chain.append(current)
        if len(chain) == 9:
            found.append(chain)
    return found


def matmul_bias(graph, node):
    """The Add of a bias after a MatMul with constant weights, or None."""
    if node.op_type != 'MatMul' or node.input[1] not in graph.const:
        return None
    adds = graph.consumers(node.output[0])
    if len(adds) == 1 and adds[0].op_type == 'Add' and adds[0].input[1] in graph.const:
        return adds[0]
    return None


def layer_norm_as_mvn(graph):
    """LayerNorm over the last axis becomes OpenCV's MVN layer; its scale and
    shift are folded into the weights of the one layer that reads it."""
    for chain in layer_norms(graph):
        x = chain[0].input[0]
        eps = scalar(graph, chain[4].input[1])
        mul, add = chain[7], chain[8]
        gamma = graph.const[mul.input[1]].astype(np.float64)
        beta = graph.const[add.input[1]].astype(np.float64)
        readers = graph.live_consumers(add.output[0])
        assert len(readers) == 1, 'a layer norm read by %d layers' % len(readers)
        reader = readers[0]
        while reader.op_type in ('Reshape', 'Transpose'):
            (reader,) = graph.live_consumers(reader.output[0])
        if reader.op_type == 'MatMul':
            bias_add = matmul_bias(graph, reader)
            w = graph.const[reader.input[1]].astype(np.float64)
            graph.const[reader.input[1]] = (gamma[:, None] * w).astype(np.float32)
            graph.const[bias_add.input[1]] = (graph.const[bias_add.input[1]] + beta @ w).astype(np.float32)
        elif reader.op_type == 'Conv':
            w = graph.const[reader.input[1]].astype(np.float64)
            assert w.shape[2:] == (1, 1)
            folded_bias = np.einsum('oi,i->o', w[:, :, 0, 0], beta)
            graph.const[reader.input[1]] = (w * gamma[None, :, None, None]).astype(np.float32)
            if len(reader.input) > 2:
                graph.const[reader.input[2]] = (graph.const[reader.input[2]] + folded_bias).astype(np.float32)
            else:
                reader.input.append(graph.constant(folded_bias.astype(np.float32), 'bias'))
        else:
            raise SystemExit('a layer norm read by %s' % reader.op_type)
        mvn = helper.make_node('MVN', [x], [add.output[0]], name=graph.fresh('mvn'), eps=eps, normalize_variance=1,
                               across_channels=0)
        graph.replace(chain, [mvn])


def inner_products(graph):
    """MatMul with constant weights plus a bias, on a [batch, tokens, features]
    input, becomes one InnerProduct over axis 2."""
    for node in list(graph.nodes):
        bias_add = matmul_bias(graph, node)
        if bias_add is None:
            continue
        w = graph.const[node.input[1]]
        b = graph.const[bias_add.input[1]]
        ip = helper.make_node('InnerProduct',
                              [node.input[0], graph.constant(w.T.copy(), 'weights'), graph.constant(b.reshape(1, -1), 'bias')],
                              [bias_add.output[0]], name=graph.fresh('ip'), num_output=int(w.shape[1]), axis=2,
                              bias_term=1)
        graph.replace([node, bias_add], [ip])


def attention_split(graph):
    """The 5-D reshape of the qkv product, its transpose and the three
    slice-squeezes become three slices of the last axis, each reshaped to
    [batch, tokens, heads, dim] and transposed to the layout its product
    wants. The query's scale is folded into the qkv weights."""
    for reshape in list(graph.nodes):
        if reshape.op_type != 'Reshape':
            continue
        readers = graph.consumers(reshape.output[0])
        transpose = readers[0] if len(readers) == 1 else None
        if transpose is None or transpose.op_type != 'Transpose' or attr(transpose, 'perm') != [2, 0, 3, 1, 4]:
            continue
        target = dynamic_reshape_target(graph, reshape)
        heads, dim = int(target[3]), int(target[4])
        width = heads * dim
        qkv = graph.producer(reshape.input[0])
        removed = [reshape, transpose]
        outputs = {}
        for slicer in graph.consumers(transpose.output[0]):
            which = attr(slicer, 'starts')[0]
            (squeeze,) = graph.consumers(slicer.output[0])
            removed += [slicer, squeeze]
            outputs[which] = squeeze.output[0]
        q_scale = None
        (q_reader,) = graph.consumers(outputs[0])
        if q_reader.op_type == 'Mul' and q_reader.input[1] in graph.const:
            q_scale = scalar(graph, q_reader.input[1])
            graph.rename_input(q_reader.output[0], outputs[0])
            removed.append(q_reader)
        (k_reader,) = graph.consumers(outputs[1])
        k_layout = [0, 2, 1, 3]
        if k_reader.op_type == 'Transpose' and attr(k_reader, 'perm') == [0, 1, 3, 2]:
            graph.rename_input(k_reader.output[0], outputs[1])
            removed.append(k_reader)
            k_layout = [0, 2, 3, 1]
        if q_scale is not None:
            # The qkv layer is an InnerProduct by now: weights [out, in], bias [1, out].
            w = graph.const[qkv.input[1]].copy()
            b = graph.const[qkv.input[2]].copy()
            w[:width] *= q_scale
            b[:, :width] *= q_scale
            graph.const[qkv.input[1]] = w
            graph.const[qkv.input[2]] = b
        new = []
        for which, layout in ((0, [0, 2, 1, 3]), (1, k_layout), (2, [0, 2, 1, 3])):
            part = graph.fresh('qkv')
            shaped = graph.fresh('heads')
            new.append(helper.make_node('Slice', [reshape.input[0]], [part], axes=[2], starts=[which * width],
                                        ends=[(which + 1) * width]))
            new.append(helper.make_node('Reshape', [part, graph.constant(np.array([0, -1, heads, dim], np.int64))],
                                        [shaped]))
            new.append(helper.make_node('Transpose', [shaped], [outputs[which]], perm=layout))
        for node in removed[1:]:
            graph.nodes.remove(node)
        graph.replace([reshape], new)


def shape_source(graph, name):
    """(tensor, first dim) for a value computed as Cast/Slice of Shape(tensor), else None."""
    first = 0
    node = graph.producer(name)
    while node is not None and node.op_type in ('Cast', 'Slice'):
        if node.op_type == 'Slice':
            first += attr(node, 'starts')[0]
        node = graph.producer(node.input[0])
    if node is not None and node.op_type == 'Shape':
        return node.input[0], first
    return None


def dynamic_reshape_target(graph, reshape):
    """The target of a Reshape built from Shape and Concat, as constants: a
    dimension copied from the same place of the input is 0, the one left
    to be worked out -1."""
    if reshape.input[1] in graph.const:
        return list(graph.const[reshape.input[1]])
    concat = graph.producer(reshape.input[1])
    assert concat.op_type == 'Concat'
    target = []
    for part in concat.input:
        node = graph.producer(part)
        while part not in graph.const and node is not None and node.op_type == 'Cast' \
                and node.input[0] in graph.const:
            part = node.input[0]
        if part in graph.const:
            target += [int(v) for v in np.asarray(graph.const[part]).reshape(-1)]
            continue
        source, first = shape_source(graph, part)
        span = 1
        slicer = graph.producer(part)
        while slicer.op_type == 'Cast':
            slicer = graph.producer(slicer.input[0])
        if slicer.op_type == 'Slice':
            span = attr(slicer, 'ends')[0] - attr(slicer, 'starts')[0]
        for i in range(span):
            same_place = source == reshape.input[0] and first + i == len(target)
            target.append(0 if same_place else -1)
    assert target.count(-1) <= 1, target
    return target


def constant_reshapes(graph):
    for node in graph.nodes:
        if node.op_type == 'Reshape' and node.input[1] not in graph.const:
            node.input[1] = graph.constant(np.array(dynamic_reshape_target(graph, node), np.int64), 'shape')


def squeeze_as_reshape(graph):
    """Squeeze of one axis becomes a Reshape that keeps the others."""
    for node in list(graph.nodes):
        if node.op_type != 'Squeeze':
            continue
        (axis,) = attr(node, 'axes')
        # [batch, channels, 1, width] -> [batch, channels, width]
        assert axis == 2
        target = np.array([0, 0, -1], np.int64)
        graph.replace([node], [helper.make_node('Reshape', [node.input[0], graph.constant(target, 'shape')],
                                                list(node.output))])


def rewrite_detection(model):
    graph = Graph(model)
    clip_bounds_as_attributes(graph)
    depthwise_5x5_as_3x3(graph)
    return graph.finish()


def rewrite_recognition(model):
    # The importer works out every layer's shape once, from the declared
    # input; a fixed example width lets it, and other widths still run.
    dims = model.graph.input[0].type.tensor_type.shape.dim
    for dim, size in zip(dims, (1, 3, 48, 320)):
        dim.Clear()
        dim.dim_value = size
    graph = Graph(model)
    clip_bounds_as_attributes(graph)
    depthwise_5x5_as_3x3(graph)
    layer_norm_as_mvn(graph)
    inner_products(graph)
    attention_split(graph)
    constant_reshapes(graph)
    squeeze_as_reshape(graph)
    return graph.finish()


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    detection, recognition, out = sys.argv[1:]
    os.makedirs(out, exist_ok=True)
    for source, rewrite, name in ((detection, rewrite_detection, 'text_detection.onnx'),
                                  (recognition, rewrite_recognition, 'text_recognition.onnx')):
        model = rewrite(onnx.load(source))
        target = os.path.join(out, name)
        # Written beside the target and renamed, so that a stopped build
        # never leaves half a model where the worker looks for one.
        onnx.save(model, target + '.part')
        os.replace(target + '.part', target)


if __name__ == '__main__':
    main()
