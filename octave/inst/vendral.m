%VENDRAL  Parzen-window (kernel) classification of test patterns.
%
%  labels = vendral (Templates, NLabels, kernel_type, norm_type, h, ...
%                    Patterns, unknown_label, oflag)
%
%  Gives each row of Patterns the label of the class whose templates have
%  the largest sum of window-kernel values at their distances from that row.
%  All eight arguments are required and the result must be assigned.
%
%  Arguments
%    Templates      N-by-d real matrix of class double: the labelled
%                   reference patterns, one per row (not d-by-N: transpose
%                   with Templates' if the features run down the columns).
%    NLabels        N-by-1 or 1-by-N vector of class double: the class label
%                   of each template row.  Use whole numbers; every label must
%                   be finite and lie within -2147483648 .. 2147483647.
%                   Labels are truncated toward zero: 1.2 and 1.7 are one
%                   class, 1.  For other labels use [~, ~, y] = unique (labels)
%                   and pass y.
%    kernel_type    scalar 0, 1, 2 or 3: the window kernel (see Kernels);
%                   truncated toward zero, so 3.9 means 3.
%    norm_type      scalar p >= 1, Inf allowed: the exponent of the Minkowski
%                   distance between patterns (see Norms).
%    h              scalar > 0: the window width.
%    Patterns       P-by-d real matrix of class double, the same d as
%                   Templates: the test patterns, one per row.
%    unknown_label  scalar, truncated toward zero, within -2147483648 ..
%                   2147483647: the label of a pattern that cannot be
%                   classified (see Ties).
%    oflag          scalar 0, 1, 2 or 3: the verbosity (see Console output);
%                   truncated toward zero.
%  A vector passes where a scalar is expected; its first element is used
%  (a vector h classifies with h(1) only).  Complex arrays are read by their
%  real parts; the imaginary parts are ignored.
%
%  Output
%    labels         P-by-1 column vector of doubles: the label given to each
%                   row of Patterns, or unknown_label.
%
%  Kernels (x = distance between a template and the pattern, u = x/h)
%    0  gaussian       exp(-u^2/2)
%    1  squared sinc   (sin(v)/v)^2 with v = x/(2h); value 1 at x = 0
%    2  laplacian      exp(-u)
%    3  cauchy         1/(1+u^2)
%  No normalising factor: every kernel is 1 at distance 0.  The score of a
%  class is the plain sum over its templates (not divided by the class
%  size, no priors), so a class with more templates nearby scores higher.
%
%  Norms (distance between rows a and b; the name shown in the summary)
%    p = 1          sum(abs(a - b))                 "min-norm"
%    p = 2          sum(abs(a - b).^2)^(1/2)        "euclidian-norm"
%    p = Inf        max(abs(a - b))                 "max-norm"
%    other p >= 1   sum(abs(a - b).^p)^(1/p)        Minkowski (no name)
%
%  Ties
%    When the highest kernel sum is shared by two or more classes, the
%    pattern gets unknown_label and counts as unclassified.  This happens
%    for a pattern exactly between two classes, and far away from every
%    template, where the gaussian (or laplacian) kernel underflows to 0 for
%    every class.  With a single class every pattern gets its label.
%    A pattern for which any class score is NaN (a NaN feature, or NaN
%    templates) cannot be classified either: it gets unknown_label and
%    counts as unclassified.  With norm_type Inf the maximum skips a NaN
%    element, so no NaN score arises there.
%
%  Console output
%    oflag 0  nothing.
%    oflag 1  the performance summary after the run:
%               <norm> <kernel> Parzen classifier performance summary
%               Test set contained P test patterns belonging to M classes
%               unable to classify U patterns (percent%)   (only if U > 0)
%               F FLOPs and C comparisons in S seconds
%             M counts the classes of NLabels; F the kernel operations,
%             C the comparisons of class scores, S whole seconds.
%    oflag 2  adds, before the summary, the number of reference classes,
%             the header "List presentation of P patterns:" and one line per
%             pattern: "Pattern #n classified as 'label'" or
%             "Pattern #n could not be classified".
%    oflag 3  adds "Pattern #n is being presented" before each pattern.
%
%  Errors
%    Bad arguments raise an error naming the argument, for example
%    "VENDRAL: 4th input argument (norm_type) must be greater or equal to 1.0."
%    In Octave (and a current MATLAB) every error carries an identifier,
%    vendral:<argument or condition>, so it can be caught by kind:
%      vendral:nrhs  vendral:Templates  vendral:NLabels  vendral:kernel_type
%      vendral:norm_type  vendral:h  vendral:Patterns  vendral:unknown_label
%      vendral:oflag  vendral:nlhs  vendral:outOfMemory
%    for example: try ... catch err, if strcmp (err.identifier, 'vendral:h').
%    When Octave cannot provide the working memory it raises its own error,
%    "vendral: failed to allocate N bytes of memory" (no identifier).
%    The user's guide lists every message with its usual cause and fix.
%
%  Example
%    Templates = [0 0; 0 1; 5 5; 5 6];
%    NLabels   = [1; 1; 2; 2];
%    Patterns  = [0 0.5; 5 5.5; 2.5 3];
%    labels = vendral (Templates, NLabels, 0, 2, 1, Patterns, -1, 1)
%  prints the summary and gives labels = [1; 2; -1]: the third pattern lies
%  exactly between the two classes and gets the unknown_label -1.
%
%  Documentation
%    The user's guide: doc/README.md in the package's folder (shown by
%    pkg list vendral, or: fullfile (fileparts (which ('vendral')), 'doc')),
%    or README.md at the top of the source tree.
%
%  vendral 1.0.0.  Copyright (c) 2026, The vendral developers.
%  BSD-3-Clause licence: see packinfo/COPYING in the package's folder, or
%  LICENSE at the top of the source tree.
%
%  See also vendral_iris, vendral_select_h, vendral_demo, vendral_parallel,
%  build_vendral.

% This file carries the help text.  The compiled module of the same name in
% the same folder (vendral.mex in Octave, vendral.mexa64 etc. in MATLAB)
% takes precedence for calls; this body only runs when it is missing.
function labels = vendral (varargin) %#ok<STOUT,INUSD>
  error ('vendral:missingModule', ...
         ['vendral: the compiled module vendral.%s is not in %s; ' ...
          'run build_vendral or install the vendral package'], ...
         mexext (), fileparts (mfilename ('fullpath')));
end
