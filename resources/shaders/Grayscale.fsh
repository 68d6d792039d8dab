// Luminance with the Rec. 601 weights.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;

varying vec2 v_texCoord;

const vec3 kLuma = vec3(0.299, 0.587, 0.114);

void main() {
    float luma = dot(texture2D(s_texture, v_texCoord).rgb, kLuma);
    gl_FragColor = vec4(vec3(luma), 1.0);
}
